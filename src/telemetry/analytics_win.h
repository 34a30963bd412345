// Win32 code. The report sender of a run: the start and final analytics reports, the upload of the
// collected log files after a failed run, and that list of log files.
#pragma once

#include <string>
#include <vector>

#include "app/install_properties.h"

namespace downloadmanagercore {

class Analytics {
 public:
  // The record belongs to the start-up sequence and outlives this object; it is read, never changed.
  explicit Analytics(const app::InstallProperties* properties) : properties_(properties) {}
  // Tests derive from it to watch what the run sends.
  virtual ~Analytics() = default;
  Analytics(const Analytics&) = delete;
  Analytics& operator=(const Analytics&) = delete;

  // POST "/v1/logAnalytics" with the analytics document, its status "started". True once the
  // request and its body were handed to the network; the answer is never read.
  virtual bool sendStartReport();
  // The same with the record's final status ("canceled" for 0).
  virtual bool sendFinalReport();
  // After a failed run: the listed log files, in list order, zipped into "log.zip" in a fresh
  // temporary folder, PUT to "/v1/reportError?token=<token>&machineId=<id>"; the folder is deleted
  // whatever happens. Silent.
  virtual void uploadLogArchive();

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
