// The report sender's data: the run's record, which the documents are built from, and the log files
// that go into the error archive, in the order they were added. Sending lives beside it.
#pragma once

#include <string>
#include <vector>

#include "app/install_properties.h"

namespace downloadmanagercore {

class Analytics {
 public:
  // The record belongs to the start-up sequence and outlives this object; it is read, never changed.
  explicit Analytics(const app::InstallProperties* properties) : properties_(properties) {}

  // Appends `path`, also when it is already listed. Called by the install worker while the UI thread
  // leaves the list alone; the list is read only after the window has closed.
  void addLogFile(const std::wstring& path) { logFiles_.push_back(path); }

  const std::vector<std::wstring>& logFiles() const { return logFiles_; }
  const app::InstallProperties* properties() const { return properties_; }

 private:
  const app::InstallProperties* properties_;
  std::vector<std::wstring> logFiles_;
};

}  // namespace downloadmanagercore
