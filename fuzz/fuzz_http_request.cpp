// Requests of any shape through lumitraxd's request handling (Service::Handle), without a
// socket: the first byte picks the method and whether a token is asked for, then the path (with
// an optional ?query) up to a line break, "name: value" header lines up to an empty line, and
// the rest is the body. Two services answer: one with a controller that has not opened yet, one
// with none. Every refusal must be the JSON error form, and no write may succeed (there is no
// controller to take it).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "service.h"

namespace {

service::Service& Make(bool token) {
    static std::unique_ptr<service::Service> withToken;
    static std::unique_ptr<service::Service> without;
    auto& slot = token ? withToken : without;
    if (!slot) {
        service::Config c;
        c.recipes = "/nonexistent-lumitraxd-fuzz-recipes";
        // Never opened (Start() is not called): every call on it finds it not connected.
        c.controllers.push_back({"top", "/nonexistent-lumitraxd-fuzz-tty", 1000});
        slot = std::make_unique<service::Service>(c, token ? "fuzz-token-0123456789" : "", [](const std::string&) {});
    }
    return *slot;
}

std::string Lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE", "HEAD", "PATCH", "OPTIONS", "X"};
    const std::uint8_t first = data[0];
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    service::HttpRequest r;
    r.method = kMethods[first & 7];
    r.client = "127.0.0.1";
    std::size_t nl = rest.find('\n');
    std::string target = rest.substr(0, nl);
    rest = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
    const std::size_t q = target.find('?');
    r.path = target.substr(0, q);
    if (q != std::string::npos) {
        const std::string query = target.substr(q + 1);
        const std::size_t eq = query.find('=');
        r.query[query.substr(0, eq)] = eq == std::string::npos ? std::string() : query.substr(eq + 1);
    }
    while (!rest.empty()) {
        nl = rest.find('\n');
        const std::string line = rest.substr(0, nl);
        rest = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
        if (line.empty()) break;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value.front() == ' ') value.erase(0, 1);
        r.headers[Lower(line.substr(0, colon))] = value;
    }
    r.body = rest;

    const service::HttpResponse resp = Make((first & 8) != 0).Handle(r);
    if (resp.status < 200 || resp.status > 599) __builtin_trap();
    if (resp.status >= 400) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(resp.body)).object();
        if (!o.value(QStringLiteral("error")).toObject().contains(QStringLiteral("kind"))) __builtin_trap();
    }
    if ((r.method == "PUT" || r.method == "POST") && resp.status < 300) __builtin_trap();
    return 0;
}
