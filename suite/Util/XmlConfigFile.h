// A configuration file of the suite's config folder, parsed into a value record and parsed again
// whenever the file appears, vanishes or changes on disk, so a running service sees edits.
// Internal to the utility library. Thread-safe.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <utility>

#include <pugixml.hpp>

#include "kva/platform/Log.h"

namespace utilcfg {

template <class TValues>
class CXmlConfigFile {
public:
    // `where` gives the host path (asked on every use: tests switch machines). `parse` fills a
    // default-constructed record from the document; it is not called when the file is missing or
    // broken, so the record keeps its defaults.
    CXmlConfigFile(std::function<std::filesystem::path()> where,
                   std::function<void(const pugi::xml_document&, TValues&)> parse)
        : m_where(std::move(where)), m_parse(std::move(parse)) {}

    // Calls `read` with the current values under the lock and returns what it returns.
    template <class F>
    auto With(F&& read) {
        std::lock_guard lock(m_mtx);
        Refresh();
        return read(static_cast<const TValues&>(m_values));
    }

private:
    void Refresh() {
        // One look at the file per use: its time, or an error when it is not there.
        std::error_code ec;
        const auto path = m_where();
        auto stamp = std::filesystem::last_write_time(path, ec);
        const bool exists = !ec;
        if (!exists) stamp = std::filesystem::file_time_type{};
        if (m_loaded && path == m_path && exists == m_existed && stamp == m_stamp) return;
        m_loaded = true;
        m_path = path;
        m_existed = exists;
        m_stamp = stamp;
        m_values = TValues{};
        if (!exists) return;
        pugi::xml_document doc;
        const auto result = doc.load_file(path.c_str());
        if (!result) {
            KVA_LOG_ERROR("cannot read " << path.string() << ": " << result.description());
            return;
        }
        m_parse(doc, m_values);
    }

    std::function<std::filesystem::path()> m_where;
    std::function<void(const pugi::xml_document&, TValues&)> m_parse;
    std::mutex m_mtx;
    TValues m_values;  // guarded by m_mtx, as are the fields below
    bool m_loaded = false;
    bool m_existed = false;
    std::filesystem::path m_path;
    std::filesystem::file_time_type m_stamp{};
};

}  // namespace utilcfg
