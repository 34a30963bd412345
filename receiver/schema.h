// The receiver's tables, as numbered migrations. A database records the number it has reached in
// schema_version; the receiver applies the missing steps in order at start, each in its own
// transaction, and refuses a database made by a newer receiver. Steps are never edited once
// released: a change is a new step.
#pragma once

#include <vector>

namespace receiver {

// Step N (from 1) brings a database from version N-1 to N. The SQL is the common subset of SQLite
// and PostgreSQL; `serialKey` stands for each one's auto-numbered key column.
std::vector<const char*> schemaMigrations();

}  // namespace receiver
