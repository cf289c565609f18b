#pragma once
// The record of platform calls (login, external calls, refreshes, closing) that lets tests
// check their order. Off unless a test starts it in memory or the environment variable
// WEXEL_HOST_JOURNAL names a file to append to; when off, a call costs one flag test.

#include <string>
#include <string_view>
#include <vector>

namespace WexelHost {

inline constexpr const char* JournalVariable = "WEXEL_HOST_JOURNAL";

// Starts recording into memory, forgetting earlier entries.
void StartJournal();
void StopJournal();
std::vector<std::string> JournalEntries();

bool JournalActive() noexcept;
// Adds one entry; the caller tests JournalActive first so that building the text is free
// when nobody listens.
void RecordCall(std::string_view entry);

} // namespace WexelHost
