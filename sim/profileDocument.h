// Reading a host profile file, with the profiles it inherits.  Shared by the
// simulated kernel and the hyxsim launcher, which copies the merged document
// into its sandbox.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace hyxsim {

// Reads the JSON object at path.  A "base" field names a profile (relative to
// this profile's directory) read first; this profile is then merged onto it:
// objects merge field by field, a null removes the inherited field, anything
// else (text, numbers, lists) replaces the inherited value whole.  The result
// has no "base" field.  On error returns false and says why in error.
bool ReadProfileDocument(const std::string &path, nlohmann::json &document, std::string &error);

}  // namespace hyxsim
