// The catalogue's signature, expiry and version rules, alone and through the queries that fetch it.
#include <fstream>

#include "KVADownload/Catalogue.h"
#include "KVADownload/UpdateService.h"
#include "ServeKit/CatalogueMaker.h"
#include "TextFile.h"
#include "UpdateServiceFixture.h"
#include "Util/Ed25519.h"
#include "kva/platform/Clock.h"

namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> Raw(const std::string& base64) {
    const auto raw = kvasig::Base64Decode(base64);
    EXPECT_TRUE(raw);
    return raw ? std::vector<unsigned char>(raw->begin(), raw->end()) : std::vector<unsigned char>();
}

class CatalogueTest : public kvatest::CUpdateServiceTest {
protected:
    std::int64_t Now() const { return plat::CClock::Get().WallMs() / 1000; }

    // A catalogue offering driver "15" at `driverVersion`, signed, under catalogue/default.json.
    std::string Publish(std::uint64_t version, const std::string& driverVersion, std::int64_t expires) {
        CCatalogueMaker maker(Folder(), PrivateKey());
        maker.AddPackage("driver", "15", "Wireless LAN Driver", driverVersion, 2);
        EXPECT_TRUE(maker.Write("default", version, expires));
        return maker.Text("default", version, expires);
    }

    // The version of "15" the client now offers, or "" when it offers nothing.
    std::string OfferedVersion(int* rc = nullptr) {
        std::vector<_TOBEUPDATE_DRIVER_INFO> list;
        std::vector<_IGNORED_DRIVER_INFO> ignored;
        const int r = GetDriverNewVersionEx(list, ignored, 1);
        if (rc) *rc = r;
        return list.empty() ? "" : list.front().versionInfo.strNextVersion;
    }

    fs::path CatalogueFile(const char* ext = ".json") { return Folder() / "catalogue" / (std::string("default") + ext); }
};

TEST_F(CatalogueTest, VerdictsOfOneCatalogue) {
    const std::string body = R"({"version": 7, "expires": 2000, "packages": []})";
    const std::string sig = SignCatalogue(body, PrivateKey());
    const auto key = Raw(PublicKey());
    std::string otherPem, otherPub;
    ASSERT_TRUE(GenerateMakerKey(&otherPem, &otherPub));
    std::string why;
    std::uint64_t version = 0;
    EXPECT_EQ(CheckCatalogue(body, sig, key, 1000, 7, &why, &version), CatalogueVerdict::Accepted);
    EXPECT_EQ(version, 7u);
    EXPECT_EQ(CheckCatalogue(body, "", key, 1000, 0, &why), CatalogueVerdict::Unsigned);
    std::string tampered = body;
    tampered[tampered.find('7')] = '9';
    EXPECT_EQ(CheckCatalogue(tampered, sig, key, 1000, 0, &why), CatalogueVerdict::BadSignature);
    EXPECT_EQ(CheckCatalogue(body, SignCatalogue(body, otherPem), key, 1000, 0, &why), CatalogueVerdict::BadSignature);
    EXPECT_EQ(CheckCatalogue(body, "not base64!", key, 1000, 0, &why), CatalogueVerdict::BadSignature);
    EXPECT_EQ(CheckCatalogue(body, sig, {}, 1000, 0, &why), CatalogueVerdict::BadSignature) << "no key configured";
    EXPECT_EQ(CheckCatalogue(body, sig, key, 2000, 0, &why), CatalogueVerdict::Expired);
    EXPECT_EQ(CheckCatalogue(body, sig, key, 1000, 8, &why), CatalogueVerdict::RolledBack);
    EXPECT_NE(why.find("older than the accepted version 8"), std::string::npos) << why;
    const std::string noVersion = R"({"expires": 2000, "packages": []})";
    EXPECT_EQ(CheckCatalogue(noVersion, SignCatalogue(noVersion, PrivateKey()), key, 1000, 0, &why),
              CatalogueVerdict::Malformed);
}

TEST_F(CatalogueTest, RefusedCataloguesLeaveTheLastGoodOneInForce) {
    ASSERT_TRUE(Serve(kvatest::Backend::Server));
    Publish(5, "2.0", Now() + 3600);
    EXPECT_EQ(OfferedVersion(), "2.0");
    EXPECT_EQ(LastCatalogueRefusal(), "");

    // Tampered: a newer version slipped into the signed text.
    std::string text = kvatest::ReadAll(CatalogueFile());
    text.replace(text.find("\"2.0\""), 5, "\"6.6\"");
    std::ofstream(CatalogueFile(), std::ios::trunc) << text;
    EXPECT_EQ(OfferedVersion(), "2.0");
    EXPECT_NE(LastCatalogueRefusal().find("signature"), std::string::npos) << LastCatalogueRefusal();

    Publish(6, "3.0", Now() - 1);  // expired: the freeze attack
    EXPECT_EQ(OfferedVersion(), "2.0");
    EXPECT_NE(LastCatalogueRefusal().find("expired"), std::string::npos) << LastCatalogueRefusal();

    Publish(4, "1.5", Now() + 3600);  // signed, fresh, but older than the accepted 5: the rollback attack
    EXPECT_EQ(OfferedVersion(), "2.0");
    EXPECT_NE(LastCatalogueRefusal().find("older"), std::string::npos) << LastCatalogueRefusal();

    fs::remove(CatalogueFile(".json.sig"));
    Publish(7, "4.0", Now() + 3600);
    fs::remove(CatalogueFile(".json.sig"));
    EXPECT_EQ(OfferedVersion(), "2.0");
    EXPECT_NE(LastCatalogueRefusal().find("unsigned"), std::string::npos) << LastCatalogueRefusal();

    Publish(7, "4.0", Now() + 3600);
    EXPECT_EQ(OfferedVersion(), "4.0");
    EXPECT_EQ(LastCatalogueRefusal(), "");
}

TEST_F(CatalogueTest, NothingUsableWithoutAnAcceptedCatalogue) {
    ASSERT_TRUE(Serve(kvatest::Backend::File));
    int rc = 0;
    EXPECT_EQ(OfferedVersion(&rc), "");
    EXPECT_EQ(rc, KVADL_NO_CATALOGUE) << "no catalogue at all";

    Publish(1, "2.0", Now() + 3600);
    Configure(Url(), "");  // no maker key: nothing can be trusted
    EXPECT_EQ(OfferedVersion(&rc), "");
    EXPECT_EQ(rc, KVADL_NO_CATALOGUE);

    // Endless data: a body past the size limit is cut off, never read whole.
    Configure(Url(), PublicKey());
    std::ofstream(CatalogueFile(), std::ios::trunc) << std::string(kMaxCatalogueBytes + 1, ' ');
    EXPECT_EQ(OfferedVersion(&rc), "");
    EXPECT_EQ(rc, KVADL_NO_CATALOGUE);

    Configure("", PublicKey());
    EXPECT_EQ(OfferedVersion(&rc), "");
    EXPECT_EQ(rc, KVADL_NOT_CONFIGURED);
}

TEST_F(CatalogueTest, AStoredCatalogueAlteredOnDiskIsNotUsed) {
    ASSERT_TRUE(Serve(kvatest::Backend::File));
    Publish(2, "2.0", Now() + 3600);
    EXPECT_EQ(OfferedVersion(), "2.0");
    fs::remove_all(Folder() / "catalogue");  // the service is gone: the stored copy answers
    EXPECT_EQ(OfferedVersion(), "2.0");
    for (const auto& e : fs::recursive_directory_iterator(State()))
        if (e.path().filename() == "accepted.json") std::ofstream(e.path(), std::ios::app) << " ";
    int rc = 0;
    EXPECT_EQ(OfferedVersion(&rc), "");
    EXPECT_EQ(rc, KVADL_NO_CATALOGUE);
}

}  // namespace
