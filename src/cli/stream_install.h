#pragma once
// One package stream (standard input or an uploaded file) installed into the run's Transaction.

#include "plan/driver.h"

#include <cstdint>
#include <string>

class ByteSink;
class ByteSource;
class Installer;
class Transaction;

// Installs the package or bundle read from `input`; 0 on success (a candidate that admission
// skipped with a warning counts as success), any other value on failure. Every byte read also
// goes to `copyTarget` (may be null). `dirOut` (may be null) gets the database directory of a
// package with an image chunk, and stays empty for a candidate passed over for its build order;
// `bootOut` (may be null) whether the boot image is to be set. `*bootOut` starts false on every
// path.
int install_stream(Installer& installer, Transaction& txn, ByteSource& input,
                   PlannerFlags flags, const UserForcedMap& userForced, ByteSink* copyTarget,
                   std::string* dirOut, bool* bootOut);
