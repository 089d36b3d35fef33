// hyxinfo's commands: one source per family of the library, each with its
// forms beside its handler; hyxinfo.cpp lists them.  hyxinfo uses the
// shipped library only, through its public header, as any program would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "bytes.h"
#include "cli.h"
#include "hyxuser/hyxuser.h"
#include "json.h"

namespace hyxinfo {

using cli::Command;
using cli::Fail;
using cli::FailWith;
using cli::Form;
using cli::HexDump;
using cli::HexText;
using cli::JsonOutput;
using cli::JsonWriter;
using cli::kFailed;
using cli::kUsage;
using cli::MakeCommand;
using cli::Out;
using cli::PrintDone;
using cli::ReadWholeFile;
using cli::Shown;
using cli::UsageError;
using cli::WriteWholeFile;

// A throttle's state, "remaining MS of PERIOD ms" or its JSON; returns 0.
int PrintThrottle(uint32_t remainingMs, uint32_t periodMs);

extern const Command kStatusCommand;
extern const Command kHostCommand;
extern const Command kNotifyCommand;
extern const Command kTrapCommand;
extern const Command kEventCommand;
extern const Command kPamCommand;
extern const Command kVersionCommand;
extern const Command kUptimeCommand;
extern const Command kAcpiCommand;
extern const Command kSmbiosCommand;
extern const Command kUefiCommand;
extern const Command kNicsCommand;
extern const Command kInterfacesCommand;
extern const Command kStorageCommand;
extern const Command kVmCommand;
extern const Command kNvdCommand;
extern const Command kHxfsCommand;

}  // namespace hyxinfo
