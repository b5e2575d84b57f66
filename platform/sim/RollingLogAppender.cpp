#include "RollingLogAppender.h"

#include <log4cplus/helpers/loglog.h>
#include <log4cplus/layout.h>
#include <log4cplus/spi/factory.h>

#include <memory>
#include <mutex>

namespace plat::sim {

const char* const CRollingLogAppender::kName = "kva::RollingFileAppender";

CRollingLogAppender::CRollingLogAppender(const log4cplus::helpers::Properties& properties)
    : RollingFileAppender(properties) {}

void CRollingLogAppender::Register() {
    static std::once_flag once;
    std::call_once(once, [] {
        log4cplus::spi::getAppenderFactoryRegistry().put(
            std::make_unique<log4cplus::spi::FactoryTempl<CRollingLogAppender, log4cplus::spi::AppenderFactory>>(
                kName));
    });
}

void CRollingLogAppender::Roll() {
    rollover(true);
    m_size = -1;
}

// Called by log4cplus with the appender's lock held.
void CRollingLogAppender::append(const log4cplus::spi::InternalLoggingEvent& event) {
    // With a lock file other processes write the same file: only the file knows its size.
    if (useLockFile) {
        RollingFileAppender::append(event);
        return;
    }
    if (!out.good()) {
        if (!reopen()) {
            log4cplus::helpers::getLogLog().error("file is not open: " + filename);
            return;
        }
        getErrorHandler()->reset();
        m_size = -1;
    }
    m_line.str(std::string());
    layout->formatAndAppend(m_line, event);
    const std::string_view text = m_line.view();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (immediateFlush) out.flush();
    // A file opened for appending says where it ends only once written to.
    if (m_size < 0) m_size = static_cast<long long>(out.tellp());
    else m_size += static_cast<long long>(text.size());
    if (m_size > maxFileSize) Roll();
}

}  // namespace plat::sim
