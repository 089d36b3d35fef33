// hyxhsi's commands: what only the library's own system-information client
// can show, linked from the library's internal archive (and nothing of the
// shipped library): the tree itself, and the kernel's lists of storage
// adapters and devices that no export gives.
#pragma once

#include "bytes.h"
#include "cli.h"
#include "hyxuser/hyxuser.h"
#include "json.h"

namespace hyxhsi {

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
using cli::ReadWholeFile;
using cli::Shown;
using cli::UsageError;
using cli::WriteWholeFile;

extern const Command kLsCommand;
extern const Command kGetCommand;
extern const Command kTypesCommand;
extern const Command kStorageCommand;

}  // namespace hyxhsi
