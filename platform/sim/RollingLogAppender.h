// The log file appender of the simulated machine's processes: log4cplus's rolling file appender,
// the same lines in the same files, rolled over at the same sizes, without asking the file for
// its size (a seek) twice per line. It counts what it writes and asks only once after opening
// or rolling over. Configuring the logger puts it in place of log4cplus::RollingFileAppender.
// Internal to the sim backend.
#pragma once

#include <log4cplus/fileappender.h>

#include <sstream>

namespace plat::sim {

class CRollingLogAppender : public log4cplus::RollingFileAppender {
public:
    explicit CRollingLogAppender(const log4cplus::helpers::Properties& properties);

    static const char* const kName;
    // Makes kName known to log4cplus's configurator; once per process is enough.
    static void Register();

protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

private:
    void Roll();

    long long m_size = -1;  // bytes in the open file; -1 when it must be asked
    std::ostringstream m_line;  // reused for each formatted line
};

}  // namespace plat::sim
