// CKesParameterRegistrar, CKesAppRoot and CKesFtpRoot.
#include <kes/registrar/kesparameterregistrar.h>

#include "support.h"

namespace regtest {
namespace {

const char kParameters[] = "Workbench\\Parameters";
const char kProductKey[] = "SOFTWARE\\Telmora\\Brontide";
const char kFtpKey[] = "SYSTEM\\CurrentControlSet\\Services\\MSFTPSVC\\Parameters\\Virtual Roots";

class Parameters : public RegistrarTest {};

TEST_F(Parameters, WithoutTheKeyEveryOperationFailsQuietlyInEachOpeningMode) {
    for (EKesAccessMode mode : {KesAccessReadOnly, KesAccessReadWrite}) {
        SCOPED_TRACE(mode);
        CKesParameterRegistrar parameters(w("Workbench"), mode);
        host::wstring text = w("kept");
        ULONG number = 5;
        EXPECT_EQ(parameters.GetValue(w("A"), text), KES_E_NOT_FOUND);
        EXPECT_EQ(parameters.GetValue(w("A"), number), KES_E_NOT_FOUND);
        EXPECT_EQ(parameters.SetValue(w("A"), w("x")), KES_E_NOT_FOUND);
        EXPECT_EQ(parameters.SetValue(w("A"), 1u), KES_E_NOT_FOUND);
        EXPECT_EQ(parameters.DeleteValue(w("A")), KES_E_NOT_FOUND);
        EXPECT_EQ(text, w("kept"));
        EXPECT_EQ(number, 5u);
    }
    EXPECT_FALSE(AppExists("Workbench"));
    EXPECT_EQ(TakeRaised(), Raises{});
    EXPECT_EQ(TakeAssertions(), Assertions{});
}

TEST_F(Parameters, CreateModeMakesTheKeyReadOnlyRefusesWritesQuietly) {
    {
        CKesParameterRegistrar parameters(std::string("Workbench"), KesAccessCreate);
        EXPECT_EQ(parameters.SetValue(w("Host"), w("tester-01")), 0);
        EXPECT_EQ(parameters.SetValue(w("Port"), 5025u), 0);
        ULONG number = 0;
        EXPECT_EQ(parameters.GetValue(w("Port"), number), 0);
        EXPECT_EQ(number, 5025u);
        EXPECT_EQ(parameters.DeleteValue(w("Port")), 0);
        EXPECT_EQ(parameters.GetValue(w("Port"), number), KES_E_NOT_FOUND);
        EXPECT_EQ(parameters.DeleteValue(w("Port")), KES_E_NOT_FOUND);
    }
    DWORD type = 0;
    EXPECT_EQ(get(CreateApp(kParameters), w("Host"), &type).size(), 20u);  // 9 units + NUL
    EXPECT_EQ(type, REG_SZ);

    CKesParameterRegistrar reader(w("Workbench"), KesAccessReadOnly);
    EXPECT_EQ(reader.SetValue(w("Host"), w("other")), KES_E_NOT_FOUND);
    EXPECT_EQ(reader.SetValue(w("Count"), 1u), KES_E_NOT_FOUND);
    EXPECT_EQ(reader.DeleteValue(w("Host")), KES_E_NOT_FOUND);
    CKesParameterRegistrar writer(w("Workbench"), KesAccessReadWrite);
    EXPECT_EQ(writer.SetValue(w("Host"), w("tester-02")), 0);
    host::wstring text;
    EXPECT_EQ(reader.GetValue(w("host"), text), 0);  // another registrar sees it at once
    EXPECT_EQ(text, w("tester-02"));
    EXPECT_EQ(TakeRaised(), Raises{});
    EXPECT_EQ(TakeAssertions(), Assertions{});
}

TEST_F(Parameters, ReadsTakeWhateverBytesAreStored) {
    HKEY key = CreateApp(kParameters);
    ASSERT_EQ(SetText(key, w("Long"), host::wstring(256, 'z')), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, w("Fits"), host::wstring(255, 'y')), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, w("OneChar"), w("A")), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, w("TwoChars"), w("AB")), ERROR_SUCCESS);
    ASSERT_EQ(set(key, w("Short"), REG_BINARY, {0x34, 0x12}), ERROR_SUCCESS);
    CKesParameterRegistrar parameters(w("Workbench"), KesAccessReadWrite);
    ASSERT_EQ(parameters.SetValue(w("Both"), 0x00420041u), 0);
    ASSERT_EQ(parameters.SetValue(w("Low"), 0x00000041u), 0);

    host::wstring text;
    EXPECT_EQ(parameters.GetValue(w("Both"), text), 0);  // two units, no type check
    EXPECT_EQ(text, w("AB"));
    EXPECT_EQ(parameters.GetValue(w("Low"), text), 0);  // cut at the zero unit
    EXPECT_EQ(text, w("A"));
    EXPECT_EQ(parameters.GetValue(w("Fits"), text), 0);
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(parameters.GetValue(w("Long"), text), KES_E_NOT_FOUND);
    EXPECT_EQ(text.size(), 255u);

    ULONG number = 0;
    EXPECT_EQ(parameters.GetValue(w("OneChar"), number), 0);  // 'A' and its NUL: 4 bytes
    EXPECT_EQ(number, 0x41u);
    EXPECT_EQ(parameters.GetValue(w("Short"), number), 0);
    EXPECT_EQ(number, 0x1234u);                                              // zero-extended
    EXPECT_EQ(parameters.GetValue(w("TwoChars"), number), KES_E_NOT_FOUND);  // 6 bytes
    EXPECT_EQ(number, 0x1234u);
    EXPECT_EQ(TakeRaised(), Raises{});
}

class RootPaths : public RegistrarTest {};

TEST_F(RootPaths, AppRootReadsRootOrSaysWhatIsMissing) {
    host::wstring path = w("unchanged");
    EXPECT_EQ(CKesAppRoot::GetPath(path), KES_E_NOT_FOUND);  // no product key
    EXPECT_EQ(TakeRaised(), Raises{});

    HKEY product = create(kProductKey);
    EXPECT_EQ(CKesAppRoot::GetPath(path), KES_E_VALUE_ACCESS);
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for Root"}}));
    EXPECT_EQ(path, w("unchanged"));

    ASSERT_EQ(SetText(product, w("Root"), w("/opt/tester")), ERROR_SUCCESS);
    EXPECT_EQ(CKesAppRoot::GetPath(path), 0);
    EXPECT_EQ(path, w("/opt/tester"));
    EXPECT_EQ(TakeAssertions(), Assertions{});
}

TEST_F(RootPaths, TextOutsideTheCodePageComesBackAsTheSubstitute) {
    HKEY product = create(kProductKey);
    const host::wstring stored = w(u"/opt/t\u00E9ster/") + host::wstring(1, 0xD800) + w("x");
    ASSERT_EQ(SetText(product, w("Root"), stored), ERROR_SUCCESS);
    host::wstring path;
    EXPECT_EQ(CKesAppRoot::GetPath(path), 0);
    EXPECT_EQ(path, w(u"/opt/t\u00E9ster/\uFFFDx"));
}

TEST_F(RootPaths, FtpRootIsTheDirectoryBeforeTheFirstComma) {
    host::wstring path = w("unchanged");
    EXPECT_EQ(CKesFtpRoot::GetPath(path), KES_E_NOT_FOUND);  // no FTP service on this host
    EXPECT_EQ(path, w("unchanged"));
    EXPECT_EQ(TakeRaised(), Raises{});

    HKEY roots = create(kFtpKey);
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Inetpub\\ftproot,,201", "C:\\Inetpub\\ftproot"},
        {"/srv/ftp", "/srv/ftp"},
        {",,201", ""},
        {"", ""},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.first);
        ASSERT_EQ(SetText(roots, w("/"), w(each.first)), ERROR_SUCCESS);
        path = w("before");
        EXPECT_EQ(CKesFtpRoot::GetPath(path), 0);
        EXPECT_EQ(narrow(path), each.second);
    }
    EXPECT_EQ(TakeRaised(), Raises{});
}

TEST_F(RootPaths, FtpRootFallsBackOnSlashCommaAfterRaisingTheMissingSlash) {
    HKEY roots = create(kFtpKey);
    ASSERT_EQ(SetText(roots, w("/,"), w("/srv/ftp,,21")), ERROR_SUCCESS);
    host::wstring path;
    EXPECT_EQ(CKesFtpRoot::GetPath(path), 0);
    EXPECT_EQ(path, w("/srv/ftp"));
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for /"}}));

    ASSERT_EQ(RegDeleteValueW(roots, w("/,").c_str()), ERROR_SUCCESS);
    path = w("unchanged");
    EXPECT_EQ(CKesFtpRoot::GetPath(path), KES_E_VALUE_ACCESS);
    EXPECT_EQ(path, w("unchanged"));
    EXPECT_EQ(TakeRaised(), (Raises{{KES_E_VALUE_ACCESS, "GetValue failed for /"},
                                    {KES_E_VALUE_ACCESS, "GetValue failed for /,"}}));
}

}  // namespace
}  // namespace regtest
