#ifndef ZEPH_NET_CURL_LIBRARY_H_
#define ZEPH_NET_CURL_LIBRARY_H_

#include <curl/curl.h>

namespace zeph {

/// The few libcurl calls the lookups make. libcurl is loaded the first time a
/// lookup needs it, not when the installer starts: a headless run never looks
/// anything up, and loading libcurl with the thirty-odd libraries behind it
/// would otherwise be most of that run's own time.
struct CurlLibrary {
  CURL* (*easyInit)();
  CURLcode (*easySetopt)(CURL*, CURLoption, ...);
  CURLcode (*easyPerform)(CURL*);
  void (*easyCleanup)(CURL*);
  CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...);
  curl_slist* (*slistAppend)(curl_slist*, const char*);
  void (*slistFreeAll)(curl_slist*);
};

/// libcurl, loaded and globally initialised on the first call; nullptr when it
/// cannot be loaded or initialised. The first call must come before any thread
/// uses libcurl (curl_global_init is not thread-safe); later calls are cheap.
const CurlLibrary* curlLibrary();

}  // namespace zeph

#endif  // ZEPH_NET_CURL_LIBRARY_H_
