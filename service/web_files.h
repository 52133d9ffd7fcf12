#pragma once
// The web panel's files (web/), built into lumitraxd and served at / without a token: the page
// has to load before it can ask for one. Every /api/v1 call it then makes still needs it.
//
// Each answer carries the panel's security headers (a Content-Security-Policy that allows only
// this origin, nosniff, no framing) and an ETag made from the file's content; a request whose
// If-None-Match names that tag gets 304 and no body. Pure; any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "service.h"

namespace service {

struct WebFile {
    const char* path;  // "/index.html"
    const unsigned char* data;
    std::size_t size;
    const char* etag;  // quoted, as sent
};

// The files CMake embedded from web/ (generated source).
const std::vector<WebFile>& EmbeddedWebFiles();

// "text/html; charset=utf-8" etc. by the path's extension; application/octet-stream otherwise.
std::string WebContentType(const std::string& path);

// Whether an If-None-Match header value (a list of tags, weak or not, or "*") names etag.
bool EtagMatches(const std::string& ifNoneMatch, const std::string& etag);

// A GET of a file under files ("/" is /index.html): 200 with the file, 304 when the tag
// matches; nothing for a path that is none of them.
std::optional<HttpResponse> ServeWebFile(const HttpRequest& request, const std::vector<WebFile>& files);

}  // namespace service
