#include "curllibrary.h"

#include <curl/curl.h>

#include <mutex>

void CurlLibrary::setUp()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}
