#include "KRFile.h"

#include <link.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace KRC {

namespace {

// "lib<name>.so", "<name>.so" or a versioned "lib<name>.so.<digits and dots>".
bool IsModuleFileName(const std::string& file, const std::string& name)
{
    const std::string plain = "lib" + name + ".so";
    if (file == plain || file == name + ".so")
        return true;
    if (file.size() <= plain.size() + 1 || file.compare(0, plain.size() + 1, plain + ".") != 0)
        return false;
    return file.find_first_not_of("0123456789.", plain.size() + 1) == std::string::npos;
}

struct ModuleSearch {
    std::string name;
    std::string folder;
    bool found = false;
};

int VisitModule(struct dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<ModuleSearch*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0')
        return 0; // the executable itself, or the vDSO
    const std::string path = info->dlpi_name;
    const std::size_t slash = path.rfind('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!IsModuleFileName(file, search->name))
        return 0;
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    search->folder = (ec ? folder : absolute).string();
    if (search->folder.empty() || search->folder.back() != '/')
        search->folder += '/';
    search->found = true;
    return 1; // stop the walk
}

// Start of the last path component.
std::size_t LastComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Position of the extension's dot, or npos. A leading dot (hidden file) and
// the components "." and ".." carry no extension.
std::size_t ExtensionDot(const std::string& path)
{
    const std::size_t start = LastComponent(path);
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= start)
        return std::string::npos;
    if (path.find_first_not_of('.', start) == std::string::npos)
        return std::string::npos;
    return dot;
}

} // namespace

KRString KRFile::GetModulePath(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return KRString();
    ModuleSearch search;
    search.name = name;
    dl_iterate_phdr(VisitModule, &search);
    return search.found ? KRString(search.folder.c_str()) : KRString();
}

bool KRFile::SetCurrentPath(const KRString& dir)
{
    if (dir.IsEmpty())
        return false;
    return chdir(dir.Cstr()) == 0;
}

KRString KRFile::GetExt(const KRString& path)
{
    const std::string text = path.Cstr();
    const std::size_t dot = ExtensionDot(text);
    return dot == std::string::npos ? KRString() : KRString(text.c_str() + dot);
}

KRString KRFile::ChangeExt(const KRString& path, const char* ext)
{
    std::string text = path.Cstr();
    const std::size_t dot = ExtensionDot(text);
    if (dot != std::string::npos)
        text.erase(dot);
    if (ext != nullptr)
        text += ext;
    return KRString(text.c_str());
}

// The root folder stays "/", the one folder that needs its slash.
KRString KRFile::GetDir(const KRString& path)
{
    std::string text = path.Cstr();
    const std::size_t start = LastComponent(text);
    if (start == 0)
        return KRString();
    text.erase(start);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return KRString(text.c_str());
}

bool KRFile::IsExist(const KRString& path)
{
    if (path.IsEmpty())
        return false;
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path.Cstr()), ec);
}

bool KRFile::MkDirEx(const KRString& dir)
{
    if (dir.IsEmpty())
        return false;
    std::error_code ec;
    const std::filesystem::path folder(dir.Cstr());
    std::filesystem::create_directories(folder, ec);
    std::error_code checked;
    return std::filesystem::is_directory(folder, checked);
}

} // namespace KRC
