// The suite's data-report component. Every data event is stored, with its values and the wall
// time, in "dataevents.db" in the state folder, shared by every process of the suite (`kva events`
// lists them). A write is one SQLite transaction, so a killed process loses nothing it reported.
//
// Duration events: a start time is kept per 64-bit key in this process; GetReportTypeDeltaTime
// gives the milliseconds since that start and forgets it. Thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Util/Singleton.h"

struct DataEventRecord {
    std::int64_t seq = 0;       // order of arrival
    std::int64_t eventId = 0;   // e.g. 601003001
    std::vector<std::string> values;
    std::int64_t wallMs = 0;    // platform wall clock at the report
    std::int64_t pid = 0;       // reporting process
};

class CBIDataReport : public suite::CSingleton<CBIDataReport> {
public:
    static CBIDataReport* GetInstance();

    // True when the event was stored.
    bool Report(std::int64_t eventId, const std::vector<std::string>& values);

    // Duration events (the platform's high-resolution counter, in microseconds).
    void SetReportTypeStartTime(std::uint64_t key, std::int64_t performanceCounter);
    // True and the elapsed milliseconds when a start is known for `key`; the start is then forgotten.
    bool GetReportTypeDeltaTime(std::uint64_t key, double& elapsedMs);

    // Reading back, oldest first: every event, or those with `eventId`, after sequence `afterSeq`.
    std::vector<DataEventRecord> Events(std::optional<std::int64_t> eventId = std::nullopt,
                                        std::int64_t afterSeq = 0);

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};
