#include "web_files.h"

#include <array>
#include <utility>

namespace service {

namespace {

// Strict by default: nothing from another host, no inline script or style, and the panel is
// never drawn inside another site's frame (a click there would switch real lights).
constexpr const char* kPolicy = "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

void Secure(HttpResponse& r) {
    r.headers["Content-Security-Policy"] = kPolicy;
    r.headers["X-Content-Type-Options"] = "nosniff";
    r.headers["Referrer-Policy"] = "no-referrer";
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string WebContentType(const std::string& path) {
    static const std::array<std::pair<const char*, const char*>, 6> kTypes = {{
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".json", "application/json"},
    }};
    const auto dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        const std::string ext = path.substr(dot);
        for (const auto& [e, type] : kTypes) {
            if (ext == e) return type;
        }
    }
    return "application/octet-stream";
}

bool EtagMatches(const std::string& ifNoneMatch, const std::string& etag) {
    std::size_t start = 0;
    while (start <= ifNoneMatch.size()) {
        const auto comma = ifNoneMatch.find(',', start);
        std::string tag = Trim(ifNoneMatch.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (tag == "*") return true;
        // If-None-Match compares weakly (RFC 9110 13.1.2).
        if (tag.rfind("W/", 0) == 0) tag.erase(0, 2);
        if (!tag.empty() && tag == etag) return true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return false;
}

std::optional<HttpResponse> ServeWebFile(const HttpRequest& request, const std::vector<WebFile>& files) {
    const std::string path = request.path == "/" ? "/index.html" : request.path;
    HttpResponse r;
    Secure(r);
    for (const WebFile& f : files) {
        if (path != f.path) continue;
        r.headers["ETag"] = f.etag;
        // Kept, but asked again each time: a new lumitraxd brings new files at once.
        r.headers["Cache-Control"] = "no-cache";
        const auto inm = request.headers.find("if-none-match");
        if (inm != request.headers.end() && EtagMatches(inm->second, f.etag)) {
            r.status = 304;
            r.contentType.clear();
            return r;
        }
        r.contentType = WebContentType(path);
        r.body.assign(reinterpret_cast<const char*>(f.data), f.size);
        return r;
    }
    return std::nullopt;
}

}  // namespace service
