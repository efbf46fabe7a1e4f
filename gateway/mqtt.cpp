#include "gateway/mqtt.h"

#include <mosquitto.h>
#include <poll.h>

#include <algorithm>
#include <cstring>

#include "gateway/channel.h"
#include "gateway/log.h"

namespace morventd {

using morvent_common::steadyMs;

namespace {

constexpr std::int64_t kConnectTimeoutMs = 10000;

// The gateway's own status, retained on <prefix>/<id>/status, in the words
// of its readers' states.
constexpr const char* kOnline = stateName(ReaderState::Online);
constexpr const char* kOffline = stateName(ReaderState::Offline);

}  // namespace

Mqtt::Mqtt(const Config& config) : config_(config), statusTopic_(config.prefix + "/" + config.id + "/status") {
    mosquitto_lib_init();
}

Mqtt::~Mqtt() {
    if (client_) mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void Mqtt::create() {
    client_ = mosquitto_new(config_.clientId.c_str(), true, this);
    if (!client_) throw std::runtime_error("mqtt: cannot create a client");
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Events are small and go out at once: no waiting to fill a segment.
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(client_, static_cast<unsigned>(config_.inflight));
    mosquitto_connect_callback_set(client_, &Mqtt::connectCallback);
    mosquitto_disconnect_callback_set(client_, &Mqtt::disconnectCallback);
    mosquitto_publish_callback_set(client_, &Mqtt::publishCallback);
    mosquitto_will_set(client_, statusTopic_.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline, 1, true);
    if (!config_.username.empty())
        mosquitto_username_pw_set(client_, config_.username.c_str(),
                                  config_.password.empty() ? nullptr : config_.password.c_str());
    if (config_.mqttTls) {
        const int rc = mosquitto_tls_set(client_, config_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) throw std::runtime_error(std::string("mqtt: TLS: ") + mosquitto_strerror(rc));
    }
}

int Mqtt::socket() const { return client_ ? mosquitto_socket(client_) : -1; }

bool Mqtt::wantWrite() const { return client_ && mosquitto_want_write(client_); }

pollfd Mqtt::watch() const { return {socket(), static_cast<short>(POLLIN | (wantWrite() ? POLLOUT : 0)), 0}; }

void Mqtt::serve(const pollfd& polled) {
    // Since the poll a failed publish or a lost connection may have dropped
    // the client, and a new one may have been made: the readiness found
    // belongs to the socket that was polled, and to no other.
    if (polled.fd < 0 || socket() != polled.fd) return;
    if (polled.revents & (POLLIN | POLLHUP | POLLERR)) readable();
    // Reading may have dropped it in turn (the broker went away).
    if (socket() == polled.fd && (polled.revents & POLLOUT)) writable();
}

void Mqtt::flush() {
    if (wantWrite()) writable();
}

void Mqtt::readable() {
    if (!client_) return;
    const int rc = mosquitto_loop_read(client_, 64);
    if (lost_.empty() && rc != MOSQ_ERR_SUCCESS) lost_ = rc == MOSQ_ERR_ERRNO ? "read failed" : mosquitto_strerror(rc);
    settle();
}

void Mqtt::writable() {
    if (!client_) return;
    const int rc = mosquitto_loop_write(client_, 64);
    if (lost_.empty() && rc != MOSQ_ERR_SUCCESS) lost_ = rc == MOSQ_ERR_ERRNO ? "write failed" : mosquitto_strerror(rc);
    settle();
}

void Mqtt::drop(std::string why) {
    if (!client_) return;
    const bool was = connected_;
    mosquitto_destroy(client_);
    client_ = nullptr;
    connected_ = connecting_ = accepted_ = false;
    lost_.clear();
    // A broker away for long is logged once; a connection lost, each time.
    if (why != lastError_ || was)
        logLine("mqtt: broker " + config_.mqttHost + ":" + std::to_string(config_.mqttPort) + " " +
                (was ? "lost" : "not reached") + ": " + why);
    lastError_ = why;
    retryAtMs_ = steadyMs() + backoff_.next();
    if (was && onDisconnected) onDisconnected();
}

void Mqtt::service() {
    const std::int64_t now = steadyMs();
    if (!client_) {
        if (now < retryAtMs_) return;
        create();
        connecting_ = true;
        connectStartedMs_ = now;
        const int rc = mosquitto_connect_async(client_, config_.mqttHost.c_str(), config_.mqttPort, config_.keepaliveS);
        if (rc != MOSQ_ERR_SUCCESS) {
            drop(rc == MOSQ_ERR_ERRNO ? "connection refused or unreachable" : mosquitto_strerror(rc));
            return;
        }
    }
    if (connecting_ && now - connectStartedMs_ > kConnectTimeoutMs) {
        drop("no answer to CONNECT");
        return;
    }
    const int rc = mosquitto_loop_misc(client_);
    if (lost_.empty() && rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) lost_ = mosquitto_strerror(rc);
    // No connection while neither connecting nor holding a CONNACK to
    // settle: the socket closed without a callback to say so.
    else if (lost_.empty() && rc == MOSQ_ERR_NO_CONN && !connecting_ && !accepted_) lost_ = "connection closed";
    settle();
}

int Mqtt::untilServiceMs() const {
    if (!client_) return static_cast<int>(std::max<std::int64_t>(0, retryAtMs_ - steadyMs()));
    return 1000;
}

bool Mqtt::publish(const std::string& topic, const std::string& payload, bool retain, int* mid) {
    if (!connected_) return false;
    const int rc =
        mosquitto_publish(client_, mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        drop(std::string("publish: ") + mosquitto_strerror(rc));
        return false;
    }
    return true;
}

void Mqtt::close(int waitMs) {
    if (!client_) return;
    if (connected_) {
        closingAcked_ = false;
        mosquitto_publish(client_, &closingMid_, statusTopic_.c_str(), static_cast<int>(std::strlen(kOffline)),
                          kOffline, 1, true);
        // The broker acknowledges in order: once this status is acknowledged,
        // so is everything published before it, and nothing is left unread.
        // A socket closed with unread acknowledgements is reset, the broker
        // takes that for a failure and publishes the last will as well.
        const std::int64_t until = steadyMs() + waitMs;
        while (!closingAcked_ && lost_.empty() && steadyMs() < until) {
            pollfd p{mosquitto_socket(client_),
                     static_cast<short>(POLLIN | (mosquitto_want_write(client_) ? POLLOUT : 0)), 0};
            if (poll(&p, 1, 50) <= 0) continue;
            if ((p.revents & POLLOUT) && mosquitto_loop_write(client_, 64) != MOSQ_ERR_SUCCESS) break;
            if ((p.revents & (POLLIN | POLLHUP | POLLERR)) && mosquitto_loop_read(client_, 64) != MOSQ_ERR_SUCCESS)
                break;
        }
        // A DISCONNECT the broker reads tells it to drop the last will.
        if (lost_.empty()) mosquitto_disconnect(client_);
    }
    mosquitto_destroy(client_);
    client_ = nullptr;
    connected_ = false;
    closingMid_ = -1;
}

// The callbacks only record what happened: calling back into the client
// (publishing, destroying it) from inside its own callback is not allowed.
void Mqtt::connectCallback(mosquitto*, void* self, int rc) {
    Mqtt& m = *static_cast<Mqtt*>(self);
    m.connecting_ = false;
    if (rc != 0) m.lost_ = std::string("refused: ") + mosquitto_connack_string(rc);
    else m.accepted_ = true;
}

// Acts on what the callbacks recorded, once the client's call has returned.
void Mqtt::settle() {
    if (!lost_.empty()) {
        drop(lost_);
        return;
    }
    if (!accepted_) return;
    accepted_ = false;
    connected_ = true;
    backoff_.reset();
    ++connects_;
    lastError_.clear();
    logLine("mqtt: connected to " + config_.mqttHost + ":" + std::to_string(config_.mqttPort) + " as " +
            config_.clientId);
    mosquitto_publish(client_, nullptr, statusTopic_.c_str(), static_cast<int>(std::strlen(kOnline)), kOnline, 1, true);
    if (onConnected) onConnected();
}

void Mqtt::disconnectCallback(mosquitto*, void* self, int rc) {
    // Destroying the client inside its own callback is not allowed; the
    // poll loop drops it when the call that got here returns.
    Mqtt& m = *static_cast<Mqtt*>(self);
    if (m.lost_.empty()) m.lost_ = rc == 0 ? "disconnected" : "connection lost";  // a refusal says more
}

void Mqtt::publishCallback(mosquitto*, void* self, int mid) {
    Mqtt& m = *static_cast<Mqtt*>(self);
    if (mid == m.closingMid_) m.closingAcked_ = true;
    else if (m.onAcked) m.onAcked(mid);
}

}  // namespace morventd
