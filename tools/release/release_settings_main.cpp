// Checks the settings of a release and writes the pages' js/stubparams.js from them.
//
//   release-settings [--test] [--environment] [--stubparams FILE] [NAME=VALUE...]
//
// --environment takes every setting that is not given as an argument from the environment variable
// of its name (an empty one counts as not given); `make package` passes them so.
//
// Every missing or unusable setting is named on stderr (exit 2, nothing written); warnings go to
// stderr too. --test takes the settings of a test build (loopback servers, plain http).
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "release/release_settings.h"

int main(int argc, char** argv) {
  bool testBuild = false;
  bool fromEnvironment = false;
  std::string stubParamsPath;
  release::Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--test") {
      testBuild = true;
    } else if (argument == "--environment") {
      fromEnvironment = true;
    } else if (argument == "--stubparams" && i + 1 < argc) {
      stubParamsPath = argv[++i];
    } else if (argument.find('=') != std::string::npos && argument[0] != '=') {
      const std::size_t equals = argument.find('=');
      settings[argument.substr(0, equals)] = argument.substr(equals + 1);
    } else {
      std::cerr << "usage: release-settings [--test] [--environment] [--stubparams FILE] [NAME=VALUE...]\n";
      return 2;
    }
  }
  if (fromEnvironment) {
    for (const std::string& name : release::settingNames()) {
      const char* value = std::getenv(name.c_str());
      if (value != nullptr && *value != '\0' && settings.count(name) == 0) settings[name] = value;
    }
  }
  const release::SettingsCheck check = release::checkSettings(settings, testBuild);
  if (!check.ok()) {
    if (!check.missing.empty()) {
      std::cerr << "make package: the release settings are incomplete; missing:";
      for (const std::string& name : check.missing) std::cerr << " " << name << (&name != &check.missing.back() ? "," : "");
      std::cerr << "\n";
    }
    for (const std::string& problem : check.problems) std::cerr << "make package: " << problem << "\n";
    std::cerr << "make package: for example: make package REPORT_HOST=reports.example.com "
                 "PACKAGE_URL=https://downloads.example.com/SorvanePro.zip PACKAGE_SHA256=<the package's SHA-256> "
                 "PACKAGE_SIGNER=\"Sorvane Software Ltd\" PACKAGE_SIGNER_KEY=<the SHA-256 of its certificate's "
                 "SubjectPublicKeyInfo>\n";
    return 2;
  }
  for (const std::string& warning : check.warnings) std::cerr << "make package: warning: " << warning << "\n";
  if (!stubParamsPath.empty()) {
    std::ofstream out(stubParamsPath, std::ios::binary | std::ios::trunc);
    out << release::stubParamsScript(settings);
    if (!out.flush()) {
      std::cerr << "cannot write " << stubParamsPath << "\n";
      return 1;
    }
  }
  return 0;
}
