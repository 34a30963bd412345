#include "telemetry/machine_id_rules.h"

#include <gtest/gtest.h>

namespace {

using telemetry::MachineIdSources;

TEST(GuidPattern, SpreadsTheLettersAndDigitsOverThePatternAndStartsAgain) {
  const struct {
    const char16_t* source;
    const char16_t* pattern;
  } kCases[] = {
      {u"00:1A:2B:3C:4D:5E", u"001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C"},
      {u"00:0B:2B:3C:4D:5E", u"000B2B3C-4D5E-000B-2B3C-4D5E000B2B3C"},
      {u"001a2b3c4d5e", u"001a2b3c-4d5e-001a-2b3c-4d5e001a2b3c"},  // letter case is kept
      {u"A", u"AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA"},
      {u"-:-z", u"zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz"},
      // Non-ASCII letters and digits are skipped like the colon.
      {u"\u00C4\u0661b", u"bbbbbbbb-bbbb-bbbb-bbbb-bbbbbbbbbbbb"},
      {u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef", u"01234567-89AB-CDEF-GHIJ-KLMNOPQRSTUV"},
  };
  for (const auto& c : kCases) {
    std::u16string text = c.source;
    EXPECT_TRUE(telemetry::formatAsGuidPattern(text));
    EXPECT_EQ(text, c.pattern);
  }
}

TEST(GuidPattern, LeavesASourceWithoutLettersOrDigitsAlone) {
  for (const char16_t* source : {u"", u":", u"::-::", u"\u00C4"}) {
    std::u16string text = source;
    EXPECT_FALSE(telemetry::formatAsGuidPattern(text));
    EXPECT_EQ(text, source);
  }
}

TEST(AdapterFilter, PathsNamingRootUsbOrBluetoothEarlyAreExcluded) {
  const struct {
    const char16_t* path;
    bool excluded;
  } kCases[] = {
      {u"\\\\?\\root#net#0000#{ad498944-762f-11d0-8dcb-00c04fc3358c}", true},
      {u"\\\\?\\ROOT#NET#0000", true},
      {u"\\\\?\\Root#net", true},
      {u"\\\\?\\usb#vid_0b95&pid_1790", true},
      {u"\\\\?\\BTH#MS_BTHPAN", true},
      {u"\\\\?\\bthenum#x", true},
      {u"\\\\?\\pci#ven_8086&dev_15b8", false},
      {u"xxxroot", true},    // "root" at index 3
      {u"xxxxroot", true},   // at index 4: the word ends beyond 8, but starts below it
      {u"xxxxxxxroot", true},  // at index 7
      {u"xxxxxxxxroot", false},  // at index 8
      {u"\\\\?\\pci#root_usb_bth", false},
      {u"xxxxxxxxxusb", false},
      {u"xxxxxxxusb", true},
      {u"", false},
      {u"roo", false},
  };
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(telemetry::isExcludedAdapterPath(kCases[i].path), kCases[i].excluded) << "case " << i;
  }
}

TEST(AdapterFilter, DescriptionsBeginningWithMicrosoftInAnyCaseAreExcluded) {
  const struct {
    const char16_t* description;
    bool excluded;
  } kCases[] = {
      {u"Microsoft Kernel Debug Network Adapter", true},
      {u"microsoft wi-fi direct virtual adapter", true},
      {u"MICROSOFT", true},
      {u"1234567Microsoft", true},   // index 7
      {u"12345678Microsoft", false},  // index 8
      {u"Intel(R) Ethernet Connection I219-V", false},
      {u"Hyper-V adapter by Microsoft", false},
      {u"Microsof", false},
      {u"", false},
  };
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(telemetry::isExcludedAdapterDescription(kCases[i].description), kCases[i].excluded) << "case " << i;
  }
}

TEST(MacAddress, IsSixUppercaseHexPairsInByteOrder) {
  const std::uint8_t address[6] = {0x00, 0x1a, 0x2b, 0xc3, 0xf4, 0xff};
  EXPECT_EQ(telemetry::formatMacAddress(address), u"00:1A:2B:C3:F4:FF");
  const std::uint8_t zero[6] = {};
  EXPECT_EQ(telemetry::formatMacAddress(zero), u"00:00:00:00:00:00");
}

TEST(MacAddress, TheOrdinallySmallestMakesTheId) {
  EXPECT_EQ(telemetry::smallestAddress({u"00:1A:2B:3C:4D:5E", u"00:0B:2B:3C:4D:5E"}), u"00:0B:2B:3C:4D:5E");
  // Digits sort before upper-case letters, which sort before lower-case ones.
  EXPECT_EQ(telemetry::smallestAddress({u"a0", u"A0", u"90"}), u"90");
  EXPECT_EQ(telemetry::smallestAddress({u"\uFFFF", u"\u00FF"}), u"\u00FF");  // unsigned units
  EXPECT_EQ(telemetry::smallestAddress({}), u"");
}

TEST(VirtualMachine, OnlyTheExactPairsOfTheTableCount) {
  const struct {
    const char16_t* model;
    const char16_t* manufacturer;
    bool isVirtual;
  } kCases[] = {
      {u"VirtualBox", u"innotek GmbH", true},
      {u"VMware Virtual Platform", u"VMware, Inc.", true},
      {u"Virtual Machine", u"Microsoft Corporation", true},
      {u"VMware7,1", u"VMware, Inc.", false},
      {u"VirtualBox", u"Oracle Corporation", false},
      {u"virtualbox", u"innotek GmbH", false},
      {u"Virtual Machine ", u"Microsoft Corporation", false},
      {u"Virtual Machine", u"innotek GmbH", false},  // rows do not mix
      {u"Wine", u"The Wine Project", false},
      {u"", u"", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(telemetry::isVirtualMachineModel(c.model, c.manufacturer), c.isVirtual);
  }
}

TEST(StoredId, IsUtf16LittleEndianWithoutTerminator) {
  const std::u16string id = u"V-0123\u20AC";
  const std::string bytes = telemetry::machineIdBytes(id);
  EXPECT_EQ(bytes, std::string("V\0-\0" "0\0" "1\0" "2\0" "3\0\xAC\x20", 14));
  EXPECT_EQ(telemetry::machineIdFromBytes(bytes), id);
  EXPECT_EQ(telemetry::machineIdBytes(u"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C").size(), 76u);
}

TEST(StoredId, AnOddLastByteIsDropped) {
  EXPECT_EQ(telemetry::machineIdFromBytes(std::string("A\0B", 3)), u"A");
  EXPECT_EQ(telemetry::machineIdFromBytes(std::string("A", 1)), u"");
  EXPECT_EQ(telemetry::machineIdFromBytes(""), u"");
}

TEST(StoredId, OnlyTheShapeOfAStoredIdIsAccepted) {
  const struct {
    const char16_t* text;
    bool accepted;
  } cases[] = {
      {u"V-6B29FC40-CA47-1067-B31D-00DD010662DA", true},
      {u"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C", true},
      {u"P-001a2b3c-4d5e-001a-2b3c-4d5e001a2b3c", true},   // letters in either case
      {u"X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", false},  // the placeholder is no id
      {u"Q-6B29FC40-CA47-1067-B31D-00DD010662DA", false},
      {u"Q-anything-at-all-of-the-right-length!", false},
      {u"V-6B29FC40-CA47-1067-B31D-00DD010662D", false},
      {u"V-6B29FC40-CA47-1067-B31D-00DD010662DAA", false},
      {u"V-6B29FC40-CA47-1067-B31D&00DD010662DA", false},  // would change the report's query
      {u"V-6B29FC40-CA47-1067-B31D-00DD01066?DA", false},
      {u"V-6B29FC40CCA47-1067-B31D-00DD010662DA", false},  // dash missing
      {u"V+6B29FC40-CA47-1067-B31D-00DD010662DA", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(telemetry::isAcceptedStoredId(c.text), c.accepted) << std::string(c.text, c.text + 38);
  }
  // 75 bytes: the odd byte is dropped, leaving 37 characters.
  const std::string bytes = telemetry::machineIdBytes(u"V-6B29FC40-CA47-1067-B31D-00DD010662DA");
  EXPECT_FALSE(telemetry::isAcceptedStoredId(telemetry::machineIdFromBytes(bytes.substr(0, 75))));
}

TEST(MachineIds, CarryTheirPrefixBeforeAGuidShapedBody) {
  EXPECT_EQ(telemetry::physicalMachineId(u"00:1A:2B:3C:4D:5E"), u"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C");
  EXPECT_EQ(telemetry::physicalMachineId(u"::"), u"");
  EXPECT_EQ(telemetry::virtualMachineId(u"6B29FC40-CA47-1067-B31D-00DD010662DA"),
            u"V-6B29FC40-CA47-1067-B31D-00DD010662DA");
}

// A machine as the resolver sees it, with a record of what the resolver asked it to store.
struct FakeMachine {
  bool queryMade = true;
  bool isVirtual = false;
  std::optional<std::u16string> stored;
  bool storeWorks = true;
  bool folderRefused = false;
  std::optional<std::u16string> guid = u"6B29FC40-CA47-1067-B31D-00DD010662DA";
  std::vector<std::u16string> addresses;
  std::vector<std::u16string> storeCalls;
  int addressQueries = 0;

  MachineIdSources sources() {
    MachineIdSources s;
    s.queryVirtualMachine = [this](bool& v) {
      v = isVirtual;
      return queryMade;
    };
    s.readStoredId = [this] { return stored; };
    s.storeId = [this](const std::u16string& id) {
      storeCalls.push_back(id);
      return storeWorks;
    };
    s.newGuid = [this] { return guid; };
    s.folderRefused = [this] { return folderRefused; };
    s.collectAddresses = [this] {
      ++addressQueries;
      return addresses;
    };
    return s;
  }
};

const char16_t kValidVirtualId[] = u"V-11111111-2222-3333-4444-555555555555";
const char16_t kNewVirtualId[] = u"V-6B29FC40-CA47-1067-B31D-00DD010662DA";
const char16_t kPhysicalId[] = u"P-000B2B3C-4D5E-000B-2B3C-4D5E000B2B3C";

TEST(ResolveMachineId, AStored38CharacterIdWinsOnAnyMachine) {
  for (bool isVirtual : {false, true}) {
    FakeMachine machine;
    machine.isVirtual = isVirtual;
    machine.stored = kValidVirtualId;
    machine.addresses = {u"00:0B:2B:3C:4D:5E"};
    EXPECT_EQ(telemetry::resolveMachineIdFrom(machine.sources()), kValidVirtualId);
    EXPECT_TRUE(machine.storeCalls.empty());
    EXPECT_EQ(machine.addressQueries, 0);
  }
}

TEST(ResolveMachineId, AVirtualMachineMakesAndStoresARandomId) {
  for (const std::optional<std::u16string>& stored :
       {std::optional<std::u16string>(), std::optional<std::u16string>(u"V-11111111-2222-3333-4444-55555555555")}) {
    FakeMachine machine;
    machine.isVirtual = true;
    machine.stored = stored;  // none, or 37 characters: replaced
    machine.addresses = {u"00:0B:2B:3C:4D:5E"};
    EXPECT_EQ(telemetry::resolveMachineIdFrom(machine.sources()), kNewVirtualId);
    EXPECT_EQ(machine.storeCalls, std::vector<std::u16string>{kNewVirtualId});
    EXPECT_EQ(machine.addressQueries, 0);
  }
}

TEST(ResolveMachineId, AVirtualMachineWithoutStorageOrGuidHasNoId) {
  FakeMachine unstorable;
  unstorable.isVirtual = true;
  unstorable.storeWorks = false;
  unstorable.addresses = {u"00:0B:2B:3C:4D:5E"};
  EXPECT_EQ(telemetry::resolveMachineIdFrom(unstorable.sources()), std::nullopt);

  FakeMachine noGuid;
  noGuid.isVirtual = true;
  noGuid.guid.reset();
  EXPECT_EQ(telemetry::resolveMachineIdFrom(noGuid.sources()), std::nullopt);
  EXPECT_TRUE(noGuid.storeCalls.empty());
}

TEST(ResolveMachineId, APhysicalMachineDerivesItsIdFromTheSmallestAddress) {
  for (bool storeWorks : {true, false}) {  // used even when it cannot be stored
    FakeMachine machine;
    machine.storeWorks = storeWorks;
    machine.addresses = {u"00:1A:2B:3C:4D:5E", u"00:0B:2B:3C:4D:5E"};
    EXPECT_EQ(telemetry::resolveMachineIdFrom(machine.sources()), kPhysicalId);
    EXPECT_EQ(machine.storeCalls, std::vector<std::u16string>{kPhysicalId});
  }
}

TEST(ResolveMachineId, AFailedWmiQueryCountsAsPhysical) {
  FakeMachine machine;
  machine.queryMade = false;
  machine.isVirtual = true;  // what a failed query may have left behind is ignored
  machine.addresses = {u"00:0B:2B:3C:4D:5E"};
  EXPECT_EQ(telemetry::resolveMachineIdFrom(machine.sources()), kPhysicalId);
}

TEST(ResolveMachineId, APhysicalMachineWithoutAdaptersHasNoId) {
  FakeMachine machine;
  machine.stored = u"P-short";
  EXPECT_EQ(telemetry::resolveMachineIdFrom(machine.sources()), std::nullopt);
  EXPECT_TRUE(machine.storeCalls.empty());
}

TEST(ResolveMachineId, ARefusedFolderIsNeitherReadNorWrittenAndOnlyAPhysicalMachineHasAnId) {
  FakeMachine physical;
  physical.folderRefused = true;
  physical.stored = kValidVirtualId;  // planted by whoever made the folder
  physical.addresses = {u"00:0B:2B:3C:4D:5E"};
  EXPECT_EQ(telemetry::resolveMachineIdFrom(physical.sources()), kPhysicalId);
  EXPECT_TRUE(physical.storeCalls.empty());

  FakeMachine virtualMachine;
  virtualMachine.isVirtual = true;
  virtualMachine.folderRefused = true;
  virtualMachine.stored = kValidVirtualId;
  // A random id kept nowhere would be another machine on every run.
  EXPECT_EQ(telemetry::resolveMachineIdFrom(virtualMachine.sources()), std::nullopt);
  EXPECT_TRUE(virtualMachine.storeCalls.empty());
}

TEST(IdFolder, OnlyAPlainFolderOwnedByTheSystemsOwnAccountsIsUsed) {
  using telemetry::IdFolderOwner;
  for (const IdFolderOwner owner :
       {IdFolderOwner::Administrators, IdFolderOwner::System, IdFolderOwner::AllUsersFolderOwner}) {
    EXPECT_TRUE(telemetry::isUsableIdFolder(false, owner));
    EXPECT_FALSE(telemetry::isUsableIdFolder(true, owner));  // a junction elsewhere
  }
  EXPECT_FALSE(telemetry::isUsableIdFolder(false, IdFolderOwner::Other));
}

}  // namespace
