// The gateway's MQTT connection, driven from the supervisor's poll loop (no
// thread of its own). A lost connection is dropped whole: the client is
// made anew, and whatever was in flight is published again from the spool,
// so what libmosquitto kept in memory never decides what is delivered.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "gateway/config.h"

struct mosquitto;

namespace morventd {

class Mqtt {
public:
    explicit Mqtt(const Config& config);
    ~Mqtt();
    Mqtt(const Mqtt&) = delete;
    Mqtt& operator=(const Mqtt&) = delete;

    std::function<void()> onConnected;     // CONNACK accepted: publish status, start over from the spool
    std::function<void()> onDisconnected;  // everything in flight is forgotten
    std::function<void(int mid)> onAcked;  // PUBACK

    int socket() const;  // -1 when there is none
    bool wantWrite() const;
    // What a poll waits for on the socket (fd -1 when there is none), and
    // serving what it found: the one place the socket's readiness is acted on.
    pollfd watch() const;
    void serve(const pollfd& polled);
    // Writes what publishing queued now, not after the next poll.
    void flush();
    // Keep-alive, and reconnecting (capped back-off) when the link is down.
    void service();
    int untilServiceMs() const;

    bool connected() const { return connected_; }
    // QoS 1 publish; false when there is no connection. *mid names its PUBACK.
    bool publish(const std::string& topic, const std::string& payload, bool retain, int* mid);
    // Publishes the gateway's status as offline, waits for its acknowledgement (at
    // most `waitMs`; acknowledgements of earlier messages still reach
    // onAcked) and disconnects cleanly, so the broker drops the last will.
    void close(int waitMs);

    std::uint64_t connects() const { return connects_; }
    const std::string& lastError() const { return lastError_; }

private:
    void readable();
    void writable();
    void create();
    void drop(std::string why);  // by value: it is often lost_, which it clears
    void settle();
    static void connectCallback(mosquitto*, void*, int);
    static void disconnectCallback(mosquitto*, void*, int);
    static void publishCallback(mosquitto*, void*, int);

    const Config& config_;
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    bool connecting_ = false;
    std::int64_t retryAtMs_ = 0;
    morvent_common::Backoff backoff_{250, 10000};  // between attempts to reach the broker
    std::int64_t connectStartedMs_ = 0;
    std::uint64_t connects_ = 0;
    std::string lastError_;
    std::string lost_;       // set by a callback: the connection is to be dropped
    bool accepted_ = false;  // set by the connect callback
    std::string statusTopic_;
    int closingMid_ = -1;  // the offline status of close(), whose acknowledgement ends it
    bool closingAcked_ = false;
};

}  // namespace morventd
