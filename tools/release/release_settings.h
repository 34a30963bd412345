// Plain code. The settings that make a release: which servers the shipped stub talks to and how it
// trusts the package it downloads. `make package` hands them over as NAME=VALUE pairs; they are
// checked together, so that one run names everything that is missing or wrong, and the pages'
// js/stubparams.js is written from them.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace release {

using Settings = std::map<std::string, std::string>;

struct SettingsCheck {
  std::vector<std::string> missing;   // names of required settings without a value
  std::vector<std::string> problems;  // settings with a value that a release cannot take
  std::vector<std::string> warnings;  // what the release can do without, but should not
  bool ok() const { return missing.empty() && problems.empty(); }
};

// The channel that the analytics report names when the release gives none.
extern const char kDefaultChannel[];

// The names a release takes; anything else is a problem (a misspelt name would silently be lost).
const std::vector<std::string>& settingNames();

// A release needs REPORT_HOST, PACKAGE_URL (https, on a public host, naming a plain .zip file), and
// PACKAGE_SHA256, which pins every byte of the package (PACKAGE_SIGNER may come with it, with
// PACKAGE_SIGNER_KEY, the SHA-256 of the signer's SubjectPublicKeyInfo: setup.exe's signer is then
// checked too). THANK_YOU_URL (https; the page opened after a completed
// installation; none without it) and TIMESTAMP_URL are warned about when missing; OFFLINE_URL
// (https; the full installer that the pages offer when the download fails) is optional; CHANNEL is
// kDefaultChannel unless given. Test builds (`testBuild`) keep their loopback servers and plain
// http, and may pin the signer alone.
SettingsCheck checkSettings(const Settings& settings, bool testBuild);

// Whether a URL's host is loopback, private, link-local, unspecified, multicast or reserved (names
// such as "localhost", and IPv4 and IPv6 literals in those ranges in every notation a resolver
// takes): no release may download its package from there.
bool isLocalHost(const std::string& host);

// PACKAGE_URL may name up to this many places to get the same package, separated by blanks: the
// pages try the next when a download ends in a network failure. The pins cover every one.
constexpr std::size_t kMaxPackageUrls = 4;
// The URLs of PACKAGE_URL, in order.
std::vector<std::string> packageUrlsOf(const Settings& settings);

// js/stubparams.js for these (checked) settings: one ES3 statement, every string JSON-escaped with
// anything outside printable ASCII as \uXXXX.
std::string stubParamsScript(const Settings& settings);

}  // namespace release
