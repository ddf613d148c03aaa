#pragma once
// Shared by the files of the transfers only.
#include "serial/Transfers.h"

#include <chrono>

namespace tarvex::transfer {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr short Running = TransferStatus::Running, Paused = TransferStatus::Paused, Ended = TransferStatus::Ended,
                Cancelled = TransferStatus::Cancelled;

} // namespace tarvex::transfer
