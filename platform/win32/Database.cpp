// SQLite on Windows is the host's: the suite's own sqlite3.dll when the process has one, else the
// copy Windows 10 and later ship (winsqlite3.dll). It is loaded on first use rather than linked, so
// the platform library loads on a machine without either; opening a database then fails with a
// clear reason. The few entry points used here are declared by hand: on 64-bit Windows every
// sqlite3 export has the one calling convention, and these signatures are SQLite's stable API.
#include "kva/platform/Database.h"

#include "Win32.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"

namespace plat {

namespace {

constexpr int kSqliteOk = 0;
constexpr int kOpenReadWrite = 0x00000002;
constexpr int kOpenCreate = 0x00000004;
constexpr int kOpenFullMutex = 0x00010000;

struct SqliteApi {
    int (*open_v2)(const char*, sqlite3**, int, const char*) = nullptr;
    const char* (*errmsg)(sqlite3*) = nullptr;
    int (*close_v2)(sqlite3*) = nullptr;
    int (*busy_timeout)(sqlite3*, int) = nullptr;
    int (*exec)(sqlite3*, const char*, int (*)(void*, int, char**, char**), void*, char**) = nullptr;
    void (*free)(void*) = nullptr;

    bool Complete() const { return open_v2 && errmsg && close_v2 && busy_timeout && exec && free; }
};

template <typename F>
void Resolve(HMODULE module, const char* name, F* fn) {
    *fn = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

SqliteApi LoadApi() {
    SqliteApi api;
    // A copy the process already has comes first, so connections and the caller's sqlite3 calls
    // meet in one library.
    HMODULE module = ::GetModuleHandleW(L"sqlite3.dll");
    if (!module) module = ::LoadLibraryExW(L"sqlite3.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!module) module = ::LoadLibraryExW(L"winsqlite3.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return api;
    Resolve(module, "sqlite3_open_v2", &api.open_v2);
    Resolve(module, "sqlite3_errmsg", &api.errmsg);
    Resolve(module, "sqlite3_close_v2", &api.close_v2);
    Resolve(module, "sqlite3_busy_timeout", &api.busy_timeout);
    Resolve(module, "sqlite3_exec", &api.exec);
    Resolve(module, "sqlite3_free", &api.free);
    return api;
}

const SqliteApi* Api() {
    static const SqliteApi api = LoadApi();
    return api.Complete() ? &api : nullptr;
}

}  // namespace

sqlite3* OpenDatabase(const std::filesystem::path& file, const std::string& schema, std::string* error) {
    const SqliteApi* api = Api();
    if (!api) {
        if (error) *error = "SQLite is not available: neither sqlite3.dll nor winsqlite3.dll could be loaded";
        KVA_LOG_ERROR("cannot open " << file.string() << ": no SQLite library on this machine");
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    sqlite3* db = nullptr;
    const std::string name = ToUtf8(file.wstring());
    if (api->open_v2(name.c_str(), &db, kOpenReadWrite | kOpenCreate | kOpenFullMutex, nullptr) != kSqliteOk) {
        if (error) *error = db ? api->errmsg(db) : "out of memory";
        api->close_v2(db);
        return nullptr;
    }
    api->busy_timeout(db, kDatabaseBusyMs);
    const std::string setup = "PRAGMA journal_mode=WAL;" + schema;
    char* err = nullptr;
    if (api->exec(db, setup.c_str(), nullptr, nullptr, &err) != kSqliteOk) {
        if (error) *error = err ? err : "cannot prepare the database";
        api->free(err);
        api->close_v2(db);
        return nullptr;
    }
    return db;
}

CStateDatabase::CStateDatabase(std::string fileName, std::string schema)
    : m_fileName(std::move(fileName)), m_schema(std::move(schema)) {}

CStateDatabase::~CStateDatabase() {
    if (m_db) Api()->close_v2(m_db);
}

sqlite3* CStateDatabase::Get(std::string* error) {
    const auto state = StateFolder();
    if (m_db && m_folder == state) return m_db;
    if (m_db) Api()->close_v2(m_db);
    m_db = nullptr;
    m_folder = state;
    m_db = OpenDatabase(state / m_fileName, m_schema, error);
    return m_db;
}

}  // namespace plat
