#include "link/ports.h"

#include <cstring>

namespace mv::link {
namespace {

struct State {
    PortTables tables;
    TransferState transfer;
    State() {
        for (auto& slot : tables.serial) slot = plat::kNoSerial;
        for (auto& slot : tables.socket) slot.store(plat::kNoSocket, std::memory_order_relaxed);
        for (auto& flag : tables.open) flag.store(0, std::memory_order_relaxed);
        for (auto& flag : tables.busy) flag.store(0, std::memory_order_relaxed);
        for (auto& counter : tables.keepAlive) counter.store(0, std::memory_order_relaxed);
        std::memset(tables.logs, 0, sizeof tables.logs);
        std::memset(&transfer, 0, sizeof transfer);
    }
};

State& state() {
    static State instance;
    return instance;
}

}  // namespace

PortTables& ports() { return state().tables; }
TransferState& transfer() { return state().transfer; }

LinkLock& linkLock() {
    static LinkLock lock;
    return lock;
}

void clearReceive() { std::memset(transfer().receive, 0, kReceiveClear); }

}  // namespace mv::link
