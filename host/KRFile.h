#pragma once

#include "KRExport.h"
#include "KRString.h"

namespace KRC {

//! File-system helpers of the host; paths use '/'.
class KR_COMMON_API KRFile {
public:
    //! Folder (ending in '/') of the loaded module lib<name>.so or <name>.so;
    //! "" when no such module is loaded.
    static KRString GetModulePath(const char* name);
    static bool SetCurrentPath(const KRString& dir);
    //! Extension of the last path component with its dot, "" when none.
    static KRString GetExt(const KRString& path);
    //! The path with its extension replaced by `ext` (which starts with a dot).
    static KRString ChangeExt(const KRString& path, const char* ext);
    //! Folder part of the path, without the trailing '/', "" when none.
    static KRString GetDir(const KRString& path);
    static bool IsExist(const KRString& path);
    //! Creates the folder and its missing parents.
    static bool MkDirEx(const KRString& dir);
};

} // namespace KRC
