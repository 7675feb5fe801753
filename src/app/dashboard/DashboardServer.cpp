#include "app/dashboard/DashboardServer.h"

// Boost 1.74's Asio uses std::exchange without including <utility>, which C++20's library
// headers no longer bring in by the way.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/dashboard/EmbeddedPage.h"
#include "app/dashboard/ListenSocket.h"
#include "download/Sha256.h"

namespace tarvex::dashboard {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using nlohmann::json;
using namespace std::chrono_literals;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
using Frame = std::shared_ptr<const std::string>;

constexpr auto kReadTimeout = 30s;
constexpr auto kKeepAliveInterval = 10s;
constexpr std::size_t kMaxUnitIdLength = 64;

const char* ContentType(std::string_view name) {
    if (name.ends_with(".html")) {
        return "text/html; charset=utf-8";
    }
    if (name.ends_with(".css")) {
        return "text/css; charset=utf-8";
    }
    if (name.ends_with(".js")) {
        return "text/javascript; charset=utf-8";
    }
    if (name.ends_with(".svg")) {
        return "image/svg+xml";
    }
    return "application/octet-stream";
}

std::string QueryValue(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.size() > key.size() && pair.starts_with(key) && pair[key.size()] == '=') {
            return std::string(pair.substr(key.size() + 1));
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return {};
}

// "host:port", "[::1]:port", "host": the host part, without brackets.
std::string HostName(std::string_view host) {
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        return std::string(host.substr(1, close == std::string_view::npos ? close : close - 1));
    }
    return std::string(host.substr(0, host.rfind(':')));
}

bool PrintableId(const std::string& id) {
    if (id.empty() || id.size() > kMaxUnitIdLength) {
        return false;
    }
    for (const char c : id) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
    boost::system::error_code ec;
    const asio::ip::address parsed = asio::ip::make_address(address, ec);
    return !ec && parsed.is_loopback();
}

bool SameToken(const std::string& given, const std::string& expected) {
    // Every byte of the longer one is looked at, whatever matched before.
    const std::size_t n = std::max(given.size(), expected.size());
    unsigned char diff = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
        diff = static_cast<unsigned char>(diff | (a ^ b));
    }
    return diff == 0;
}

class DashboardServer::Impl {
  public:
    class Session;

    Impl(production::DashboardFeed& feed, DashboardSettings settings, DashboardActions actions)
        : feed_(feed),
          settings_(std::move(settings)),
          actions_(std::move(actions)),
          acceptor_(io_),
          keepAlive_(io_) {}

    bool Start(std::string& why);
    void Stop();

    std::string Url() const {
        const bool v6 = settings_.address.find(':') != std::string::npos;
        return "http://" + (v6 ? "[" + settings_.address + "]" : settings_.address) + ":" +
               std::to_string(port_) + "/";
    }
    std::uint16_t Port() const { return port_; }
    DashboardCounters Counters() const {
        const std::lock_guard<std::mutex> lock(countersMutex_);
        return counters_;
    }

    // On the server's thread.
    void Handle(const std::shared_ptr<Session>& session, Request& request);
    void Forget(Session* session, bool live);
    void CountQueued(std::ptrdiff_t change, std::size_t sessionQueued);

    const DashboardSettings& Settings() const { return settings_; }

  private:
    void Accept();
    void Flush();
    void KeepAlive();
    Response Reply(const Request& request, http::status status, std::string body,
                   const char* type = "application/json") const;
    Response Error(const Request& request, http::status status, const std::string& text) const;
    bool Authorized(const Request& request, std::string_view query) const;
    bool KnownHost(const Request& request) const;
    Response Post(const Request& request, std::string_view path);
    json State();
    void HashContainer();

    production::DashboardFeed& feed_;
    DashboardSettings settings_;
    DashboardActions actions_;
    asio::io_context io_;
    tcp::acceptor acceptor_;
    asio::steady_timer keepAlive_;
    std::thread thread_;
    std::uint16_t port_ = 0;
    bool running_ = false;
    std::set<std::shared_ptr<Session>> sessions_;
    std::set<std::shared_ptr<Session>> live_;
    std::string hashedContainer_;
    mutable std::mutex countersMutex_;
    DashboardCounters counters_;
};

class DashboardServer::Impl::Session : public std::enable_shared_from_this<Session> {
  public:
    Session(Impl& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {}

    void Read() {
        parser_.emplace();
        parser_->body_limit(server_.Settings().maxBodyBytes);
        parser_->header_limit(static_cast<std::uint32_t>(server_.Settings().maxHeaderBytes));
        stream_.expires_after(kReadTimeout);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

    void Send(Response response) {
        auto held = std::make_shared<Response>(std::move(response));
        stream_.expires_after(kReadTimeout);
        http::async_write(stream_, *held,
                          [self = shared_from_this(), held](beast::error_code ec, std::size_t) {
                              if (ec || held->need_eof()) {
                                  self->Close();
                              } else {
                                  self->Read();
                              }
                          });
    }

    // From now on the connection carries the live stream: `head` and the frames pushed.
    void GoLive(std::string head) {
        live_ = true;
        stream_.expires_never();
        Push(std::make_shared<const std::string>(std::move(head)));
    }

    // False when the client could not take it and was dropped.
    bool Push(const Frame& frame) {
        if (closed_) {
            return false;
        }
        if (queued_ + frame->size() > server_.Settings().maxQueueBytes) {
            Close();
            return false;
        }
        queued_ += frame->size();
        server_.CountQueued(static_cast<std::ptrdiff_t>(frame->size()), queued_);
        queue_.push_back(frame);
        if (!writing_) {
            WriteNext();
        }
        return true;
    }

    void Close() {
        if (closed_) {
            return;
        }
        closed_ = true;
        server_.CountQueued(-static_cast<std::ptrdiff_t>(queued_), 0);
        queued_ = 0;
        queue_.clear();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
        server_.Forget(this, live_);
    }

  private:
    void OnRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted ||
            ec == beast::error::timeout) {
            Close();
            return;
        }
        if (ec == http::error::body_limit) {
            Refuse(http::status::payload_too_large, "the request's body is too large");
            return;
        }
        if (ec == http::error::header_limit) {
            Refuse(http::status::request_header_fields_too_large,
                   "the request's head is too large");
            return;
        }
        if (ec && ec.category() == http::make_error_code(http::error::bad_target).category()) {
            Refuse(http::status::bad_request, "malformed request");
            return;
        }
        if (ec) {
            Close();
            return;
        }
        Request request = parser_->release();
        server_.Handle(shared_from_this(), request);
    }

    void Refuse(http::status status, const std::string& text) {
        Response r{status, 11};
        r.set(http::field::content_type, "application/json");
        r.set(http::field::connection, "close");
        r.body() = json{{"error", text}}.dump();
        r.prepare_payload();
        r.keep_alive(false);
        Send(std::move(r));
    }

    void WriteNext() {
        writing_ = true;
        const Frame frame = queue_.front();
        asio::async_write(stream_, asio::buffer(*frame),
                          [self = shared_from_this(), frame](beast::error_code ec, std::size_t) {
                              self->OnWritten(ec, frame->size());
                          });
    }

    void OnWritten(beast::error_code ec, std::size_t size) {
        if (closed_) {
            return;
        }
        queue_.pop_front();
        queued_ -= size;
        server_.CountQueued(-static_cast<std::ptrdiff_t>(size), queued_);
        if (ec) {
            Close();
            return;
        }
        if (queue_.empty()) {
            writing_ = false;
        } else {
            WriteNext();
        }
    }

    Impl& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    bool live_ = false;
    bool closed_ = false;
    bool writing_ = false;
    std::deque<Frame> queue_;
    std::size_t queued_ = 0;
};

bool DashboardServer::Impl::Start(std::string& why) {
    boost::system::error_code ec;
    const asio::ip::address address = asio::ip::make_address(settings_.address, ec);
    if (ec) {
        why = "not an IP address: " + settings_.address;
        return false;
    }
    const tcp::endpoint endpoint(address, settings_.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec && !PrepareListenSocket(static_cast<std::uintptr_t>(acceptor_.native_handle()))) {
        ec = asio::error::invalid_argument;
    }
    if (!ec) {
        acceptor_.bind(endpoint, ec);
    }
    if (!ec) {
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        why = ec == asio::error::address_in_use ? "the address is already in use"
              : ec == boost::system::errc::address_not_available
                  ? "the address is not one of this computer's"
                  : ec.message();
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        return false;
    }
    port_ = acceptor_.local_endpoint().port();
    feed_.SetWake([this] { asio::post(io_, [this] { Flush(); }); });
    Accept();
    KeepAlive();
    running_ = true;
    thread_ = std::thread([this] { io_.run(); });
    return true;
}

void DashboardServer::Impl::Stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    asio::post(io_, [this] {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        keepAlive_.cancel();
        const auto all = sessions_;
        for (const auto& session : all) {
            session->Close();
        }
        io_.stop();
    });
    thread_.join();
    feed_.SetWake({});
}

void DashboardServer::Impl::Accept() {
    acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec) {
            if (acceptor_.is_open()) {
                Accept();
            }
            return;
        }
        auto session = std::make_shared<Session>(*this, std::move(socket));
        if (sessions_.size() >= settings_.maxConnections) {
            // Told so, then closed: the count of connections stays where it is.
            Response r{http::status::service_unavailable, 11};
            r.set(http::field::content_type, "application/json");
            r.body() = json{{"error", "too many connections"}}.dump();
            r.prepare_payload();
            r.keep_alive(false);
            session->Send(std::move(r));
        } else {
            sessions_.insert(session);
            {
                const std::lock_guard<std::mutex> lock(countersMutex_);
                counters_.connections = sessions_.size();
            }
            session->Read();
        }
        Accept();
    });
}

void DashboardServer::Impl::Forget(Session* session, bool live) {
    const auto match = [session](const std::shared_ptr<Session>& s) { return s.get() == session; };
    std::erase_if(sessions_, match);
    const bool wasLive = std::erase_if(live_, match) > 0;
    const std::lock_guard<std::mutex> lock(countersMutex_);
    counters_.connections = sessions_.size();
    counters_.liveClients = live_.size();
    if (live && wasLive && running_) {
        // Dropped while the server runs: either the client went away or its queue overflowed.
        ++counters_.dropped;
    }
}

void DashboardServer::Impl::CountQueued(std::ptrdiff_t change, std::size_t sessionQueued) {
    const std::lock_guard<std::mutex> lock(countersMutex_);
    counters_.queuedBytes =
        static_cast<std::size_t>(static_cast<std::ptrdiff_t>(counters_.queuedBytes) + change);
    counters_.peakQueued = std::max(counters_.peakQueued, sessionQueued);
}

void DashboardServer::Impl::HashContainer() {
    // Hashed on the server's thread, once per container, so that no port waits for it.
    const std::string path =
        feed_.With([](production::DashboardModel& m) { return m.Header().container; });
    if (path.empty() || path == hashedContainer_) {
        return;
    }
    hashedContainer_ = path;
    const std::string digest = Sha256OfFile(path).value_or("");
    feed_.With([&](production::DashboardModel& m) { m.Header().containerSha256 = digest; });
    feed_.HeaderChanged();
}

void DashboardServer::Impl::Flush() {
    HashContainer();
    std::vector<std::string> frames = feed_.Drain();
    if (frames.empty() || live_.empty()) {
        return;
    }
    std::string all;
    for (const std::string& f : frames) {
        all += f;
    }
    // One shared copy for every client; a client that cannot take it is dropped.
    const Frame frame = std::make_shared<const std::string>(std::move(all));
    const auto clients = live_;
    for (const auto& client : clients) {
        client->Push(frame);
    }
}

void DashboardServer::Impl::KeepAlive() {
    keepAlive_.expires_after(kKeepAliveInterval);
    keepAlive_.async_wait([this](beast::error_code ec) {
        if (ec) {
            return;
        }
        // A comment line: a browser ignores it, and a client that went away shows up as a
        // failed write.
        const Frame frame = std::make_shared<const std::string>(": keep-alive\n\n");
        const auto clients = live_;
        for (const auto& client : clients) {
            client->Push(frame);
        }
        KeepAlive();
    });
}

Response DashboardServer::Impl::Reply(const Request& request, http::status status, std::string body,
                                      const char* type) const {
    Response r{status, request.version()};
    r.set(http::field::content_type, type);
    r.set(http::field::cache_control, "no-store");
    r.set("X-Content-Type-Options", "nosniff");
    r.set("X-Frame-Options", "DENY");
    r.body() = std::move(body);
    r.prepare_payload();
    r.keep_alive(request.keep_alive());
    return r;
}

Response DashboardServer::Impl::Error(const Request& request, http::status status,
                                      const std::string& text) const {
    Response r = Reply(request, status, json{{"error", text}}.dump());
    if (status == http::status::unauthorized) {
        r.set(http::field::www_authenticate, "Bearer");
    }
    return r;
}

bool DashboardServer::Impl::Authorized(const Request& request, std::string_view query) const {
    if (settings_.token.empty()) {
        return true;
    }
    std::string given;
    if (const auto auth = request.find(http::field::authorization); auth != request.end()) {
        const std::string_view value(auth->value().data(), auth->value().size());
        if (value.starts_with("Bearer ")) {
            given = std::string(value.substr(7));
        }
    } else {
        given = QueryValue(query, "token");
    }
    return SameToken(given, settings_.token);
}

bool DashboardServer::Impl::KnownHost(const Request& request) const {
    if (!settings_.token.empty()) {
        return true;  // the token guards it, whatever name the station has on the network
    }
    // Without a token only the loopback names: a page elsewhere that points a name of its own
    // at 127.0.0.1 gets nothing.
    const auto host = request.find(http::field::host);
    if (host == request.end()) {
        return false;
    }
    const std::string name = HostName(std::string_view(host->value().data(), host->value().size()));
    return name == "localhost" || name == settings_.address || IsLoopbackAddress(name);
}

json DashboardServer::Impl::State() {
    return feed_.With([](production::DashboardModel& m) { return m.StateJson(); });
}

void DashboardServer::Impl::Handle(const std::shared_ptr<Session>& session, Request& request) {
    const std::string_view target(request.target().data(), request.target().size());
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view{} : target.substr(question + 1);

    if (!KnownHost(request)) {
        session->Send(Error(request, http::status::forbidden, "unknown Host"));
        return;
    }
    if (!Authorized(request, query)) {
        session->Send(Error(request, http::status::unauthorized, "a token is needed"));
        return;
    }
    if (request.method() == http::verb::post) {
        session->Send(Post(request, path));
        return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head) {
        Response r = Error(request, http::status::method_not_allowed, "GET or POST only");
        r.set(http::field::allow, "GET, HEAD, POST");
        session->Send(std::move(r));
        return;
    }
    if (path == "/api/v1/state") {
        HashContainer();
        session->Send(Reply(request, http::status::ok,
                            State().dump(-1, ' ', false, json::error_handler_t::replace)));
        return;
    }
    if (path == "/api/v1/units") {
        const json units = feed_.With([](production::DashboardModel& m) { return m.UnitsJson(); });
        session->Send(Reply(request, http::status::ok,
                            json{{"schema", 1}, {"units", units}}.dump(
                                -1, ' ', false, json::error_handler_t::replace)));
        return;
    }
    if (path == "/api/v1/events") {
        HashContainer();
        std::string head =
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
            "X-Content-Type-Options: nosniff\r\nConnection: keep-alive\r\n\r\n"
            "retry: 1000\n\n";
        head += production::EventFrame("state", State());
        live_.insert(session);
        {
            const std::lock_guard<std::mutex> lock(countersMutex_);
            counters_.liveClients = live_.size();
        }
        session->GoLive(std::move(head));
        return;
    }
    const std::string_view name = path == "/" ? std::string_view("index.html") : path.substr(1);
    if (const EmbeddedFile* file = path.starts_with("/") ? FindPageFile(name) : nullptr) {
        Response r = Reply(request, http::status::ok,
                           std::string(reinterpret_cast<const char*>(file->data), file->size),
                           ContentType(file->name));
        // The page runs only what it brought itself.
        r.set("Content-Security-Policy",
              "default-src 'self'; connect-src 'self'; img-src 'self' data:; "
              "frame-ancestors 'none'");
        session->Send(std::move(r));
        return;
    }
    session->Send(Error(request, http::status::not_found, "no such page"));
}

Response DashboardServer::Impl::Post(const Request& request, std::string_view path) {
    // Another page in the operator's browser may send a POST here, but its Origin is its own.
    const auto origin = request.find(http::field::origin);
    const auto host = request.find(http::field::host);
    if (origin == request.end() || host == request.end() ||
        std::string_view(origin->value().data(), origin->value().size()) !=
            "http://" + std::string(host->value().data(), host->value().size())) {
        return Error(request, http::status::forbidden, "the Origin is not this dashboard");
    }
    const auto type = request.find(http::field::content_type);
    if (type == request.end() || !std::string_view(type->value().data(), type->value().size())
                                      .starts_with("application/json")) {
        return Error(request, http::status::unsupported_media_type, "a JSON body is needed");
    }
    const json body = json::parse(request.body(), nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        return Error(request, http::status::bad_request, "the body is not a JSON object");
    }
    const std::string port =
        body.contains("port") && body["port"].is_string() ? body["port"].get<std::string>() : "";
    const bool known =
        feed_.With([&port](production::DashboardModel& m) { return m.Find(port) != nullptr; });

    if (path == "/api/v1/stop") {
        if (actions_.stop) {
            actions_.stop();
        }
        feed_.With([](production::DashboardModel& m) { m.Header().stopping = true; });
        feed_.HeaderChanged();
        return Reply(request, http::status::ok, json{{"ok", true}}.dump());
    }
    if (path != "/api/v1/ack" && path != "/api/v1/unit-id") {
        return Error(request, http::status::not_found, "no such action");
    }
    if (!known) {
        return Error(request, http::status::not_found, "no such port");
    }
    if (path == "/api/v1/ack") {
        if (!feed_.With([&](production::DashboardModel& m) { return m.Acknowledge(port); })) {
            return Error(request, http::status::conflict, "the tile has not failed");
        }
        feed_.Changed(port);
        return Reply(request, http::status::ok, json{{"ok", true}}.dump());
    }
    if (!body.contains("unit_id") || !body["unit_id"].is_string() ||
        !PrintableId(body["unit_id"].get<std::string>())) {
        return Error(request, http::status::bad_request, "unit_id: 1 to 64 printable characters");
    }
    const std::string id = body["unit_id"].get<std::string>();
    const bool taken = feed_.With([&](production::DashboardModel& m) {
        return m.Header().unitIdsFromDashboard && m.SetNextUnitId(port, id);
    });
    if (!taken) {
        return Error(request, http::status::conflict,
                     "the line does not take unit ids from the dashboard");
    }
    feed_.Changed(port);
    return Reply(request, http::status::ok, json{{"ok", true}}.dump());
}

DashboardServer::DashboardServer(production::DashboardFeed& feed, DashboardSettings settings,
                                 DashboardActions actions)
    : impl_(std::make_unique<Impl>(feed, std::move(settings), std::move(actions))) {}

DashboardServer::~DashboardServer() {
    impl_->Stop();
}

bool DashboardServer::Start(std::string& why) {
    return impl_->Start(why);
}

void DashboardServer::Stop() {
    impl_->Stop();
}

std::string DashboardServer::Url() const {
    return impl_->Url();
}

std::uint16_t DashboardServer::Port() const {
    return impl_->Port();
}

DashboardCounters DashboardServer::Counters() const {
    return impl_->Counters();
}

}  // namespace tarvex::dashboard
