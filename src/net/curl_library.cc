#include "net/curl_library.h"

#include <dlfcn.h>

namespace zeph {
namespace {

// libcurl's file name by its ABI version, which has been 4 since 2006.
#ifdef __APPLE__
// By its full path: dyld looks for a bare name in the working folder too,
// where anyone could leave a libcurl of their own for the installer to run.
constexpr const char* kCurlFile = "/usr/lib/libcurl.4.dylib";
#else
constexpr const char* kCurlFile = "libcurl.so.4";
#endif

template <typename Function>
bool bind(void* library, const char* name, Function*& function) {
  function = reinterpret_cast<Function*>(dlsym(library, name));
  return function != nullptr;
}

const CurlLibrary* load() {
  static CurlLibrary curl;
  void* library = dlopen(kCurlFile, RTLD_NOW | RTLD_LOCAL);  // kept open for the process's life
  if (!library) return nullptr;
  CURLcode (*globalInit)(long) = nullptr;
  const bool bound = bind(library, "curl_global_init", globalInit) &&
                     bind(library, "curl_easy_init", curl.easyInit) &&
                     bind(library, "curl_easy_setopt", curl.easySetopt) &&
                     bind(library, "curl_easy_perform", curl.easyPerform) &&
                     bind(library, "curl_easy_cleanup", curl.easyCleanup) &&
                     bind(library, "curl_easy_getinfo", curl.easyGetinfo) &&
                     bind(library, "curl_slist_append", curl.slistAppend) &&
                     bind(library, "curl_slist_free_all", curl.slistFreeAll);
  if (!bound || globalInit(CURL_GLOBAL_ALL) != CURLE_OK) return nullptr;
  return &curl;
}

}  // namespace

const CurlLibrary* curlLibrary() {
  static const CurlLibrary* const loaded = load();
  return loaded;
}

}  // namespace zeph
