#include "receiver/schema.h"

#include <string>
#include <utility>

#include "receiver/store.h"

namespace receiver {

std::vector<const char*> schemaMigrations() {
  return {
      // 1: reports as they came, runs joined by token, uploads and their content files.
      "CREATE TABLE runs ("
      " id %SERIAL% PRIMARY KEY,"
      " request_token TEXT NOT NULL,"
      " joinable INTEGER NOT NULL,"  // 0 for the placeholder token: never joined with another report
      " machine_id TEXT NOT NULL,"
      " started_at BIGINT, finished_at BIGINT, status TEXT,"
      " product_version TEXT NOT NULL, channel TEXT NOT NULL, os TEXT NOT NULL, architecture TEXT NOT NULL,"
      " install_language TEXT NOT NULL, country TEXT NOT NULL,"
      " wrapper_error INTEGER, msi_error INTEGER);"
      "CREATE UNIQUE INDEX runs_by_token ON runs (request_token) WHERE joinable = 1;"
      "CREATE INDEX runs_by_start ON runs (started_at);"
      "CREATE TABLE reports ("
      " id %SERIAL% PRIMARY KEY,"
      " run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
      " received_at BIGINT NOT NULL,"
      " request_token TEXT NOT NULL, country TEXT NOT NULL, product_id TEXT NOT NULL, product_version TEXT NOT NULL,"
      " channel TEXT NOT NULL, install_language TEXT NOT NULL, status TEXT NOT NULL, serial_key TEXT NOT NULL,"
      " properties TEXT NOT NULL,"  // JSON object of the external properties
      " wrapper_error INTEGER NOT NULL, msi_error INTEGER NOT NULL, os TEXT NOT NULL, language TEXT NOT NULL,"
      " architecture TEXT NOT NULL, default_browser TEXT NOT NULL, stub_version TEXT NOT NULL, machine_id TEXT NOT NULL);"
      "CREATE INDEX reports_by_run ON reports (run_id);"
      "CREATE TABLE log_uploads ("
      " id %SERIAL% PRIMARY KEY,"
      " received_at BIGINT NOT NULL, request_token TEXT NOT NULL, machine_id TEXT NOT NULL,"
      " sha256 TEXT NOT NULL, size BIGINT NOT NULL,"
      " entries TEXT NOT NULL, error_lines TEXT NOT NULL);"  // JSON arrays
      // One archive a run; runs without a token (the placeholder) are not joined, so not limited.
      "CREATE UNIQUE INDEX log_uploads_by_token ON log_uploads (request_token)"
      " WHERE request_token <> 'XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX';"
      "CREATE TABLE dumps ("
      " id %SERIAL% PRIMARY KEY,"
      " received_at BIGINT NOT NULL, machine_id TEXT NOT NULL, sha256 TEXT NOT NULL, size BIGINT NOT NULL,"
      " exception_code BIGINT NOT NULL, faulting_module TEXT NOT NULL, module_offset BIGINT NOT NULL,"
      " signature TEXT NOT NULL);"
      "CREATE INDEX dumps_by_signature ON dumps (signature);"
      "CREATE INDEX dumps_by_time ON dumps (received_at);"
      "CREATE INDEX log_uploads_by_time ON log_uploads (received_at);",
  };
}

const char* rateColumn(const std::string& dimension) {
  static const std::pair<const char*, const char*> columns[] = {
      {"version", "product_version"}, {"channel", "channel"},          {"os", "os"},
      {"architecture", "architecture"}, {"language", "install_language"}, {"country", "country"},
  };
  for (const auto& [name, column] : columns) {
    if (dimension == name) return column;
  }
  return nullptr;
}

}  // namespace receiver
