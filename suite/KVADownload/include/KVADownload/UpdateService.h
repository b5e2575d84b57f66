// Queries of the update service and the machine's installed-software inventory.
//
// The service is the URL of the suite's common configuration (<UpdateService url=...>), http://,
// https:// or file://; its catalogue must carry the signature of the maker key configured beside
// it (see Catalogue.h). What the machine has installed is its inventory in the registry:
//   HKEY_LOCAL_MACHINE "SOFTWARE\\Vantor\\Inventory\\<package id>", string values "Version", "Name"
// Package "0" is the management application, "101" the diagnose-analysis tool. The suite's
// installer updates the inventory after an install.
//
// Every call may block on the network (bounded time-outs) and may be made from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KVADownload/UpdateInfo.h"

namespace plat {
class CEvent;
}

// Result codes of the queries below.
enum : int {
    KVADL_OK = 0,             // a newer version exists / the lists are filled
    KVADL_NO_NEWER = 1,       // GetLanternaNewVersion: nothing newer
    KVADL_NO_CATALOGUE = 2,   // no accepted catalogue: service unreachable or refused, none kept
    KVADL_NOT_CONFIGURED = 3, // no service URL in the configuration
    KVADL_BAD_ARGUMENT = 4,
};

// Newer driver and firmware packages than installed, in catalogue order, into `packages`
// (strCurVersion filled from the inventory, strAux1 the English description); versions the user
// ignored (DeleteDetectedDrv) go into `ignored` instead. Each package's description is stored in
// its detected folder. refresh: 1 asks the service, 0 uses the last accepted catalogue.
int GetDriverNewVersionEx(std::vector<_TOBEUPDATE_DRIVER_INFO>& packages,
                          std::vector<_IGNORED_DRIVER_INFO>& ignored, int refresh);

// The management application's package when newer than installed. which: 2 (the application).
// KVADL_OK with `record` filled (description in `language`), KVADL_NO_NEWER, or another code.
int GetLanternaNewVersion(const std::string& language, int which, _TOBEUPDATE_DRIVER_INFO& record, int refresh);
int GetLanternaNewVersionEx(const std::string& language, _TOBEUPDATE_DRIVER_INFO& record, int refresh);

// True when the catalogue offers a newer diagnose-analysis tool ("101"); its description is then
// in the detected folder of "101".
bool GetDiagnoseAnalysisNewVersion();

// The version of the last catalogue this machine accepted; 0 when none yet.
std::uint64_t GetAcceptedCatalogueVersion();

// Blocks until the update service answers, asking every 30 s of clock time; false when `stop`
// (or the download manager's shutdown) ends the wait first.
bool WaitForNetWork(const plat::CEvent* stop = nullptr);

// This machine's over-the-air identifier: made once, then kept in the registry.
std::string GetQOTAID();
// The serial-number JSON a request carries in strSN: {"sn":..., "model":..., "otaid":...}.
std::string ProduceJsonStrForSn(int flags);

// Fills `r` for one upgrade step (status: 1 download started, 2 downloaded, 3 installed,
// 4 install failed, 5 cancelled by the user). 0 on success.
int initReportDriverInfor(int status, const std::string& id, const std::string& version,
                          const std::string& name, const std::string& updateType, report& r);
// Sends `r` to the service: POST <url>/report over HTTP, a line of reports/upgrade-status.jsonl in
// a file:// service. 0 on success, else an HTTP status or -1.
int ReportUpgradeStatusNew(int status, const std::string& versionId, const std::string& version, report& r);

// The inventory.
std::string GetInstalledVersion(const std::string& id);
bool SetInstalledVersion(const std::string& id, const std::string& version, const std::string& name);
