// A store of the test's own, reached the way the tool reaches it: through the
// registry and CoCreateInstance. The engine is linked too, to seed messages
// and to change the store from outside the server.
#pragma once

#include "ComTestSupport.h"
#include "StoreApi.h"

#include "Store.h"

#include <wrl/client.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace comtest {

using Microsoft::WRL::ComPtr;

// A small message with the given headers.
std::string Mail(const std::string& subject,
                 const std::string& from = "Alice Example <alice@example.org>",
                 const std::string& to = "Bob Example <bob@example.com>",
                 const std::string& extraHeaders = "", const std::string& body = "Hello.\r\n");

class ServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A namespace created through the registry and initialised.
    ComPtr<IStoreNamespace> Connect();
    // The engine on the same directory (another writer, as another process would be).
    std::unique_ptr<mailstore::Store> Engine();
    // Imports through the engine; returns the new ids.
    std::vector<MESSAGEID> Seed(STOREFOLDERID folder, const std::vector<std::string>& sources);

    // Top-level folder of the given special type, looked up through the namespace.
    static STOREFOLDERID SpecialFolder(IStoreNamespace* ns, LONG type);
    static std::vector<FOLDERPROPS> Children(IStoreNamespace* ns, STOREFOLDERID parent);
    static std::vector<MESSAGEPROPS> Messages(IStoreFolder* folder); // caller frees
    static std::vector<MESSAGEID> MessageIds(IStoreFolder* folder);
    static FOLDERPROPS Props(IStoreNamespace* ns, STOREFOLDERID id);

    TempDir dir{L"mailstore-com"};

  private:
    bool comReady_ = false;
};

} // namespace comtest
