#include "host/HostJournal.h"

#include "platform/Process.h"

#include <fstream>

namespace WexelHost {

namespace {

struct TJournal {
    TJournal() : File(Sys::GetEnv(JournalVariable)) {}

    std::string File;
    bool InMemory = false;
    std::vector<std::string> Entries;
};

TJournal& Journal()
{
    static TJournal journal;
    return journal;
}

// Read once when the library loads, so the hot path tests a plain flag.
bool Active = !Journal().File.empty();

} // namespace

void StartJournal()
{
    TJournal& journal = Journal();
    journal.Entries.clear();
    journal.InMemory = true;
    Active = true;
}

void StopJournal()
{
    TJournal& journal = Journal();
    journal.InMemory = false;
    journal.Entries.clear();
    Active = !journal.File.empty();
}

std::vector<std::string> JournalEntries() { return Journal().Entries; }

bool JournalActive() noexcept { return Active; }

void RecordCall(std::string_view entry)
{
    TJournal& journal = Journal();
    if (journal.InMemory)
        journal.Entries.emplace_back(entry);
    if (!journal.File.empty()) {
        // Opened per entry so that a process that dies still leaves every line written.
        std::ofstream out(journal.File, std::ios::app | std::ios::binary);
        out << entry << '\n';
    }
}

} // namespace WexelHost
