// Listing the Existing Networks reads every stored invitation; nearly all of
// that should be OpenSSL's PKCS #12 work. Every benchmark below runs over the
// same 200 stored invitations: through CInvitationInfo, through the folder
// scan the list is filled from, through the list page itself (its reading on
// a pool thread, the entries put into its list), and as bare d2i_PKCS12 +
// PKCS12_parse calls on the CertData blobs taken from them, the yardstick.

#include "foundation/EncryptFile.h"
#include "foundation/Paths.h"
#include "invitations/InvitationInfo.h"
#include "invitations/StoredInvitations.h"
#include "invitations/TVLCertParam.h"
#include "tests/invitations/TestCertificates.h"
#include "wizards/ExistingInvitationPage.h"

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <openssl/pkcs12.h>

#include <vector>

namespace {

constexpr int kInvitations = 200;

struct Store
{
    QTemporaryDir dir;
    QStringList paths;
    std::vector<QByteArray> blobs;

    Store()
    {
        qputenv("TERVALA_COMMON_APPDATA", QFile::encodeName(dir.path()));
        CInvitationInfo makeFolders;
        for (int i = 0; i < kInvitations; ++i) {
            const QString name = QStringLiteral("Network-%1").arg(i, 4, 10, QLatin1Char('0'));
            CTVLCertParam param(TestCertificates::MakeValid(name));
            param.AddString(QStringLiteral("Nickname"), QStringLiteral("Inviter"));
            param.AddString(QStringLiteral("SessionDisplayName"), QStringLiteral("Demo network"));
            param.AddString(QStringLiteral("DDNSNAME"), QStringLiteral("host.example.net"));
            param.AddBinary(QStringLiteral("IPV6Addr"), QByteArray(16, '\1'));
            param.AddBinary(QStringLiteral("IPV6Port"), QByteArray(2, '\2'));
            param.AddString(QStringLiteral("SessionInfo"), QStringLiteral("session type text"));
            const QString path =
                QDir(Paths::LocalStoreFolder()).filePath(name + QStringLiteral(".cert"));
            if (!param.SaveInvitation(path, CEncryptFile::FixedKey()))
                qFatal("cannot write %s", qPrintable(path));
            paths << path;
            CTVLCertParam reader;
            reader.LoadInvitation(path);
            QByteArray blob;
            reader.GetBinary(QStringLiteral("CertData"), blob);
            blobs.push_back(blob);
        }
    }
};

Store& TheStore()
{
    static Store store;
    return store;
}

void BM_ReadStoredInvitations(benchmark::State& state)
{
    Store& store = TheStore();
    for (auto _ : state) {
        CInvitationInfo info;
        int listed = 0;
        for (const QString& path : store.paths) {
            if (!info.ReadInvitationFile(path))
                state.SkipWithError("read failed");
            listed += info.IsExpired() ? 0 : 1;
            benchmark::DoNotOptimize(info.GetSessionDisplayName());
        }
        benchmark::DoNotOptimize(listed);
    }
    state.SetItemsProcessed(state.iterations() * kInvitations);
}

void BM_ScanForTheList(benchmark::State& state)
{
    TheStore();
    for (auto _ : state) {
        const CStoredScanResult result = StoredInvitations::Scan();
        if (result.networks.size() != kInvitations)
            state.SkipWithError("not every stored invitation listed");
        benchmark::DoNotOptimize(StoredInvitations::ListTexts(result.networks));
    }
    state.SetItemsProcessed(state.iterations() * kInvitations);
}

void BM_FillExistingList(benchmark::State& state)
{
    TheStore();
    CExistingInvitationPage page;
    QEventLoop loop;
    QObject::connect(&page, &CExistingInvitationPage::filled, &loop, &QEventLoop::quit);
    for (auto _ : state) {
        page.StartFill();
        loop.exec();
        if (page.NetworkCombo()->count() != kInvitations)
            state.SkipWithError("not every stored invitation listed");
    }
    state.SetItemsProcessed(state.iterations() * kInvitations);
}

void BM_BarePkcs12Parse(benchmark::State& state)
{
    Store& store = TheStore();
    EnsurePkcs12Providers();
    const QByteArray password = CEncryptFile::FixedKey().toUtf8();
    for (auto _ : state) {
        for (const QByteArray& blob : store.blobs) {
            const auto* cursor = reinterpret_cast<const unsigned char*>(blob.constData());
            PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, blob.size());
            EVP_PKEY* key = nullptr;
            X509* cert = nullptr;
            STACK_OF(X509)* others = nullptr;
            if (!p12 || PKCS12_parse(p12, password.constData(), &key, &cert, &others) != 1)
                state.SkipWithError("parse failed");
            benchmark::DoNotOptimize(cert);
            EVP_PKEY_free(key);
            X509_free(cert);
            sk_X509_pop_free(others, X509_free);
            PKCS12_free(p12);
        }
    }
    state.SetItemsProcessed(state.iterations() * kInvitations);
}

} // namespace

BENCHMARK(BM_ReadStoredInvitations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanForTheList)->Unit(benchmark::kMillisecond);
// The reading runs on a pool thread: the CPU column counts the whole process.
BENCHMARK(BM_FillExistingList)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_BarePkcs12Parse)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The list page is a widget: no display is needed to fill it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
