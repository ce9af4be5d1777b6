#pragma once

// Symbol visibility of the host libraries and of the plug-in module. The host
// libraries export their whole API; the plug-in builds with hidden visibility
// and exports only what carries KR_PLUGIN_API.
#define KR_API_EXPORT __attribute__((visibility("default")))

#define KR_COMMON_API KR_API_EXPORT
#define KR_ACCESSOR_API KR_API_EXPORT
#define KR_PLUGIN_API KR_API_EXPORT
