#include "http_server.h"

#include <cctype>
#include <chrono>

#include <httplib.h>

namespace service {

namespace {

constexpr auto kEventWait = std::chrono::milliseconds(250);
constexpr int kKeepAliveEvery = 60;  // waits without an event between two comment lines (15 s)

HttpRequest FromHttplib(const httplib::Request& req) {
    HttpRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [k, v] : req.params) r.query[k] = v;
    for (const auto& [k, v] : req.headers) {
        std::string name = k;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        r.headers[name] = v;
    }
    r.body = req.body;
    r.client = req.remote_addr;
    return r;
}

}  // namespace

HttpServer::HttpServer(Service& service, ServerLimits limits)
    : service_(service), server_(std::make_unique<httplib::Server>()) {
    httplib::Server& s = *server_;
    const int threads = limits.threads;
    s.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    s.set_read_timeout(limits.readTimeoutS, 0);
    s.set_write_timeout(limits.writeTimeoutS, 0);
    s.set_keep_alive_timeout(limits.keepAliveTimeoutS);
    s.set_keep_alive_max_count(100);
    // An answer goes out whole at once: without this, Nagle's algorithm held the last segment
    // of each answer for the client's delayed ACK, about 40 ms a request on a kept-alive
    // connection.
    s.set_tcp_nodelay(true);
    // A longer body is refused (413) before it is read.
    s.set_payload_max_length(kMaxBodyBytes);

    const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        HttpResponse out = service_.Handle(FromHttplib(req));
        res.status = out.status;
        for (const auto& [k, v] : out.headers) res.set_header(k, v);
        if (out.status == 304) return;  // headers only: no body, no Content-Type
        if (!out.eventStream) {
            res.set_content(out.body, out.contentType);
            return;
        }
        res.set_header("Cache-Control", "no-cache");
        auto queue = std::make_shared<EventQueue>(service_.Events(), out.traffic);
        auto idle = std::make_shared<int>(0);
        auto greeted = std::make_shared<bool>(false);
        res.set_chunked_content_provider(
            "text/event-stream", [this, queue, idle, greeted](std::size_t, httplib::DataSink& sink) {
                if (!*greeted) {
                    // Tells the client the stream is subscribed: every later change is in it.
                    static const std::string hello = "event: hello\ndata: {}\n\n";
                    *greeted = true;
                    return sink.write(hello.data(), hello.size());
                }
                if (stopping_ || !sink.is_writable()) {
                    sink.done();
                    return true;
                }
                Event e;
                if (queue->Next(e, kEventWait)) {
                    *idle = 0;
                    const std::string text = "event: " + e.type + "\ndata: " + e.json + "\n\n";
                    return sink.write(text.data(), text.size());
                }
                if (++*idle >= kKeepAliveEvery) {
                    *idle = 0;
                    static const std::string ping = ": keep-alive\n\n";
                    return sink.write(ping.data(), ping.size());
                }
                return true;
            });
    };
    // A request with neither Content-Length nor Transfer-Encoding has no body (RFC 9112 6.3);
    // the library would wait for one until the read timeout, so it is answered here, before
    // the library reads.
    s.set_pre_routing_handler([handler](const httplib::Request& req, httplib::Response& res) {
        const bool mayHaveBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH" ||
                                 req.method == "DELETE";
        if (!mayHaveBody || req.has_header("Content-Length") || req.has_header("Transfer-Encoding")) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        handler(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    s.Get(".*", handler);
    s.Put(".*", handler);
    s.Post(".*", handler);
    s.Delete(".*", handler);
    s.Patch(".*", handler);
    s.Options(".*", handler);
    // httplib's own refusals (413 for a long body, 400 for a malformed request line...) get
    // the same JSON form as the service's.
    s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        const std::string kind = res.status == 413 ? "too large" : res.status == 404 ? "not found" : "request";
        res.set_content("{\"error\":{\"kind\":\"" + kind + "\",\"message\":\"HTTP " + std::to_string(res.status) +
                            "\"}}",
                        "application/json");
        return httplib::Server::HandlerResponse::Handled;
    }));
}

HttpServer::~HttpServer() = default;

int HttpServer::Bind(const std::string& host, int port) {
    if (port == 0) return server_->bind_to_any_port(host);
    return server_->bind_to_port(host, port) ? port : -1;
}

bool HttpServer::Serve() { return server_->listen_after_bind(); }

bool HttpServer::Probe(const std::string& host, int port, int timeoutMs) {
    std::string target = host;
    if (target.empty() || target == "0.0.0.0") target = "127.0.0.1";
    if (target == "::") target = "::1";
    httplib::Client client(target, port);
    const auto seconds = static_cast<time_t>(timeoutMs / 1000);
    const auto micros = static_cast<time_t>((timeoutMs % 1000) * 1000);
    client.set_connection_timeout(seconds, micros);
    client.set_read_timeout(seconds, micros);
    client.set_write_timeout(seconds, micros);
    client.set_keep_alive(false);
    const httplib::Result r = client.Get("/healthz");
    return static_cast<bool>(r) && r->status > 0;
}

void HttpServer::Stop() {
    stopping_ = true;
    server_->stop();
}

}  // namespace service
