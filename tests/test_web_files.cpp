// The web panel's files as lumitraxd serves them: what is embedded (every file the page asks
// for, each tag the hash of its bytes), the answer's headers, revalidation, and that the files
// need no token while the API keeps asking for it (Service::Handle, no socket).

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QRegularExpression>

#include <set>
#include <string>

#include "service.h"
#include "web_files.h"

namespace {

using service::EmbeddedWebFiles;
using service::EtagMatches;
using service::HttpRequest;
using service::HttpResponse;
using service::WebFile;

std::string Body(const WebFile& f) { return std::string(reinterpret_cast<const char*>(f.data), f.size); }

const WebFile* Find(const std::string& path) {
    for (const WebFile& f : EmbeddedWebFiles()) {
        if (path == f.path) return &f;
    }
    return nullptr;
}

HttpRequest Get(const std::string& path, std::map<std::string, std::string> headers = {}) {
    HttpRequest r;
    r.method = "GET";
    r.path = path;
    r.headers = std::move(headers);
    r.client = "127.0.0.1";
    return r;
}

TEST(WebFiles, EveryFileThePageNamesIsEmbeddedWithTheHashOfItsBytesAsTag) {
    const WebFile* index = Find("/index.html");
    ASSERT_NE(index, nullptr);
    // What index.html links and what each module imports: a file left out breaks the page.
    std::set<std::string> named;
    const QRegularExpression link(QStringLiteral(R"((?:src|href)="([^"]+)\")"));
    const QRegularExpression import(QStringLiteral(R"(from '\./([^']+)')"));
    for (const auto& m : link.globalMatch(QString::fromStdString(Body(*index)))) named.insert("/" + m.captured(1).toStdString());
    for (const WebFile& f : EmbeddedWebFiles()) {
        const std::string path = f.path;
        if (path.size() < 3 || path.substr(path.size() - 3) != ".js") continue;
        for (const auto& m : import.globalMatch(QString::fromStdString(Body(f)))) named.insert("/" + m.captured(1).toStdString());
    }
    EXPECT_GE(named.size(), 6u);
    for (const std::string& path : named) EXPECT_NE(Find(path), nullptr) << path << " is named but not embedded";

    for (const WebFile& f : EmbeddedWebFiles()) {
        const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(Body(f)), QCryptographicHash::Sha256).toHex();
        EXPECT_EQ(f.etag, "\"" + hash.left(32).toStdString() + "\"") << f.path;
        EXPECT_NE(service::WebContentType(f.path), "application/octet-stream") << f.path;
    }
}

TEST(WebFiles, IfNoneMatchComparesEachTagWeakly) {
    struct Case {
        const char* header;
        bool matches;
    };
    const std::string tag = "\"abc123\"";
    const Case cases[] = {
        {"\"abc123\"", true},
        {"W/\"abc123\"", true},
        {"\"x\", \"abc123\"", true},
        {" \"x\" ,W/\"abc123\" ", true},
        {"*", true},
        {"\"abc12\"", false},
        {"abc123", false},
        {"\"abc123\"x", false},
        {"", false},
        {",,", false},
    };
    for (const Case& c : cases) EXPECT_EQ(EtagMatches(c.header, tag), c.matches) << c.header;
}

// One service asking for a token, and no controller: only the routing and headers are looked at.
class WebRoutes : public ::testing::Test {
protected:
    WebRoutes() : svc_(service::Config{}, "web-test-token-0123456789", [](const std::string&) {}) {}
    service::Service svc_;
};

TEST_F(WebRoutes, FilesNeedNoTokenAndCarryTheirHeaders) {
    struct Case {
        std::string path;
        std::string type;
    };
    const Case cases[] = {
        {"/", "text/html; charset=utf-8"},
        {"/index.html", "text/html; charset=utf-8"},
        {"/app.js", "text/javascript; charset=utf-8"},
        {"/style.css", "text/css; charset=utf-8"},
        {"/lumitrax.png", "image/png"},
    };
    for (const Case& c : cases) {
        const HttpResponse r = svc_.Handle(Get(c.path));
        ASSERT_EQ(r.status, 200) << c.path << ": " << r.body;
        EXPECT_EQ(r.contentType, c.type) << c.path;
        EXPECT_EQ(r.headers.at("X-Content-Type-Options"), "nosniff") << c.path;
        EXPECT_EQ(r.headers.at("Content-Security-Policy").rfind("default-src 'self'", 0), 0u) << c.path;
        EXPECT_FALSE(r.body.empty()) << c.path;

        // The same tag again: 304 without a body; another tag: the file.
        const std::string tag = r.headers.at("ETag");
        const HttpResponse again = svc_.Handle(Get(c.path, {{"if-none-match", tag}}));
        EXPECT_EQ(again.status, 304) << c.path;
        EXPECT_TRUE(again.body.empty()) << c.path;
        EXPECT_EQ(again.headers.at("ETag"), tag) << c.path;
        EXPECT_EQ(svc_.Handle(Get(c.path, {{"if-none-match", "\"older\""}})).status, 200) << c.path;
    }
    EXPECT_EQ(svc_.Handle(Get("/")).body, Body(*Find("/index.html")));
}

TEST_F(WebRoutes, OtherPathsAndMethodsAreRefusedAndTheApiStillAsksForTheToken) {
    struct Case {
        const char* method;
        const char* path;
        int status;
    };
    const Case cases[] = {
        {"GET", "/nope.js", 404},
        {"GET", "/index.html/", 404},
        {"GET", "/../service.cpp", 404},
        {"GET", "/api", 404},
        {"PUT", "/", 405},
        {"POST", "/app.js", 405},
        {"GET", "/api/v1/controllers", 401},
        {"GET", "/api/v1/events", 401},
        {"GET", "/api/v1/nope", 401},
        {"GET", "/metrics", 401},
    };
    for (const Case& c : cases) {
        HttpRequest r = Get(c.path);
        r.method = c.method;
        const HttpResponse resp = svc_.Handle(r);
        EXPECT_EQ(resp.status, c.status) << c.method << ' ' << c.path << ": " << resp.body;
        EXPECT_NE(resp.body.find("\"error\""), std::string::npos) << c.method << ' ' << c.path;
        EXPECT_EQ(resp.headers.at("X-Content-Type-Options"), "nosniff") << c.path;
    }
}

}  // namespace
