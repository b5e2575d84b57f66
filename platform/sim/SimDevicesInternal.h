// Shared by the simulated devices: the call record and the image folder. Internal to the sim.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace plat::sim {

// Appends a row to the machine's device-call record and returns its sequence number.
std::int64_t RecordDeviceCall(const std::string& device, const std::string& call,
                              const std::string& detail, std::int64_t size);
std::filesystem::path EcImageFolder();

}  // namespace plat::sim
