#ifndef VANTREL_SERVICE_START_UP_HPP
#define VANTREL_SERVICE_START_UP_HPP

#include <cstdint>
#include <string>

#include "units/remembered_levels.hpp"
#include "units/units_file.hpp"

/// What the service remembers of the boot it last started in, beside the
/// levels (levelsPath + ".boot"): the kernel's boot id, and when it first
/// started in that boot.
struct BootRecord {
  std::string bootId;
  std::int64_t sinceMs = 0;  ///< ms since 1970 UTC; 0 when none is remembered
};

/// What a start of the service knows: whether the machine booted since the
/// last start (then on_start applies), and from when a remembered level
/// counts as known, as nothing but this service drove the units since.
struct StartFacts {
  bool boot = false;
  std::int64_t knownSinceMs = 0;
};

/// A start is a boot when the boot id differs from the one remembered, or
/// either is missing; a boot's levels count as known only once confirmed.
StartFacts startFacts(const BootRecord& remembered, const std::string& bootId, std::int64_t nowMs);

/// The level `policy` sends its unit at a boot, or -1 for none: "restore"
/// sends `remembered` only when it was confirmed within `restoreWithinMs`
/// of `nowMs`, so that a long outage never turns the lights on at night.
int startLevel(const StartPolicy& policy, const RememberedLevel& remembered, std::int64_t nowMs,
               std::int64_t restoreWithinMs);

/// The kernel's boot id: the file $VANTREL_BOOT_ID_FILE names, else
/// /proc/sys/kernel/random/boot_id; "" when it cannot be read.
std::string currentBootId();
/// Where the record of the levels at `levelsPath` is kept: beside them.
std::string bootRecordPath(const std::string& levelsPath);
/// The record at `path`; none when it is missing or not one.
BootRecord readBootRecord(const std::string& path);
/// Written then renamed, as the levels are; false with `reason`, one line
/// that names the file.
bool writeBootRecord(const std::string& path, const BootRecord& record, std::string& reason);

#endif
