// Writes the generated seeds of the fuzz targets: valid inputs made by the
// program's own writers (and, for the session list, the tests' independent
// image writer), each with the control byte its target expects.
//
//   build-fuzz/tests/fuzz/make_fuzz_seeds tests/fuzz/corpus [target...]
//
// Hand-made seeds live beside them and are left alone. Certificates and
// salts are random, so a second run rewrites the invitation seeds.
#include "foundation/EncryptFile.h"
#include "foundation/XmlSerializer.h"
#include "invitations/TVLCertParam.h"
#include "servicelink/RPCExecute.h"
#include "sessions/SessionContainer.h"
#include "sessions/SessionTypeCatalog.h"
#include "sessions/SharedSection.h"
#include "tests/invitations/TestCertificates.h"
#include "tests/sessions/SectionImage.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <cstdio>

namespace {

QString g_root;
int g_written = 0;

void WriteRaw(const QString& target, const QString& name, const QByteArray& bytes)
{
    const QString folder = QDir(g_root).filePath(target);
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    ++g_written;
}

// The control byte that selects the target's mode, then the payload.
void Write(const QString& target, const QString& name, char control, const QByteArray& payload)
{
    WriteRaw(target, name, QByteArray(1, control) + payload);
}

// ---------------------------------------------------------------------------

class CapturingProxy : public IRPCProxyStub
{
public:
    int SendCommand(const CXmlSerializer& document) override
    {
        documents << document.GetXml();
        return 0;
    }
    QStringList documents;
};

void IpcSeeds()
{
    CapturingProxy p;
    const QByteArray data = QByteArray::fromHex("fffe3c0052004100");
    p.CreateInvitation(QStringLiteral("Ann"), QStringLiteral("s3cret"), QStringLiteral("Team"),
                       QStringLiteral("<TVLSessionStringFormat/>"), 0x01DB000000000000ULL,
                       QStringLiteral("/home/ann/team.Tervalapro"), data);
    p.CreateInvitation(QStringLiteral("Ann"), QStringLiteral("pw"), QStringLiteral("Team"),
                       QString(), 0, QStringLiteral("/tmp/x"), QByteArray());
    p.JoinInvitation(QStringLiteral("Bob"), QStringLiteral("/home/bob/team.Tervalapro"),
                     QStringLiteral("s3cret"));
    p.PostJoinInvitationStatus(1, QString(), QStringLiteral("Design Team"),
                               QStringLiteral("2001:db8::42"));
    p.PostLSPNotify(-7);
    p.PostUINotify();
    p.PostP2PStatusChange(1);
    p.PostCreateInvitationStatus(QStringLiteral("Team"), 0,
                                 QStringLiteral("Access denied & \"quoted\" <text>"));
    p.PostInvitationAppData(QByteArray(300, 'r'));
    p.CloseServerSession(QStringLiteral("Design Team \u00e9\U0001F600"));
    const char* names[] = {"create_with_data", "create_without_data", "join",       "join_status",
                           "lsp_notify",       "ui_notify",           "p2p_status", "create_status",
                           "app_data",         "close_session"};
    // Status messages pass only as answers: their seeds have the program
    // waiting for them (bit 2).
    for (qsizetype i = 0; i < p.documents.size(); ++i) {
        const QString name = QString::fromLatin1(names[i]);
        const bool answer = name == QStringLiteral("join_status") ||
                            name == QStringLiteral("create_status") ||
                            name == QStringLiteral("app_data");
        Write(QStringLiteral("ipc"), name, answer ? 5 : 1, p.documents[i].toUtf8());
    }
    Write(QStringLiteral("ipc"), QStringLiteral("unasked_join_status"), 1, p.documents[3].toUtf8());
    // The wire form itself, and one just under the receive buffer.
    Write(QStringLiteral("ipc"), QStringLiteral("wire_join_status"), 4,
          EncodeMessage(p.documents[3]));
    Write(QStringLiteral("ipc"), QStringLiteral("padded_to_buffer"), 3, p.documents[5].toUtf8());
}

// ---------------------------------------------------------------------------

QByteArray WrittenImage(const ISessionContainer& container)
{
    CSharedSection section(CSharedSection::WriteTag{}, quint32(container.RequiredPayloadBytes()));
    container.WriteSessions(section);
    return section.Image();
}

PeerRecord Peer(const QString& name, const QString& second)
{
    PeerRecord record;
    record.SetFlag(1);
    record.SetPeerName(name);
    record.SetSecondText(second);
    for (int i = 4; i < 22; ++i)
        record.bytes[std::size_t(i)] = static_cast<unsigned char>(0xA0 + i);
    return record;
}

void SectionSeeds()
{
    {
        ISessionContainer container;
        CTVLSession* s = container.GetOrCreateSession(QStringLiteral("net1"));
        s->SetDisplayText(QStringLiteral("Network One"));
        s->Peers().Append(Peer(QStringLiteral("alice"), QStringLiteral("10.0.0.2")));
        s->Peers().Append(Peer(QStringLiteral("bob"), QStringLiteral("fd00::3")));
        TunnelRecord tunnel;
        tunnel.bytes.fill('t');
        s->Tunnels().Append(tunnel);
        WriteRaw(QStringLiteral("section"), QStringLiteral("one_session"), WrittenImage(container));
        CTVLSession* t = container.GetOrCreateSession(QStringLiteral("Z\u00fcrich \U0001F600"));
        t->SetDisplayText(QStringLiteral("Second"));
        t->Peers().Append(Peer(QStringLiteral("carol"), QStringLiteral("10.1.0.9")));
        WriteRaw(QStringLiteral("section"), QStringLiteral("two_sessions"),
                 WrittenImage(container));
    }
    using TestSection::Image;
    auto write = [](const char* name, const QByteArray& image) {
        WriteRaw(QStringLiteral("section"), QString::fromLatin1(name), image);
    };
    write("empty_list", Image().image());
    write("half_published", Image()
                                .session(QStringLiteral("net"), QStringLiteral("Net"), 2)
                                .peer(QStringLiteral("a"))
                                .peer(QStringLiteral("b"))
                                .tunnels(0, 0)
                                .image(520 + 520 + 4 + 16 + 1068));
    write("marked_empty_and_short", Image()
                                        .session(QStringLiteral("net"), QStringLiteral("Net"), 5)
                                        .peer(QStringLiteral("a"), 0)
                                        .peer(QStringLiteral("b"))
                                        .image());
    write("unterminated_names", Image()
                                    .text(QStringLiteral("n"), false)
                                    .text(QStringLiteral("d"), false)
                                    .i32(1)
                                    .bytes(QByteArray(16, 'h'))
                                    .peer(QStringLiteral("p"))
                                    .tunnels(2, 1)
                                    .image());
    write("same_name_twice", Image()
                                 .session(QStringLiteral("x"), QStringLiteral("first"), 1)
                                 .peer(QStringLiteral("a"))
                                 .tunnels(0, 0)
                                 .session(QStringLiteral("x"), QStringLiteral("second"), 0)
                                 .tunnels(0, 0)
                                 .image());
    write("negative_counts",
          Image().session(QStringLiteral("neg"), QStringLiteral("N"), -1).tunnels(-5, 0).image());
}

// ---------------------------------------------------------------------------

QByteArray Pkcs12(const CCertificate& cert, const char* password, int keyNid, int certNid,
                  int iterations, int macIterations, bool withKey = true)
{
    PKCS12* p12 =
        PKCS12_create(password, "seed", withKey ? cert.PrivateKey() : nullptr, cert.Cert(), nullptr,
                      keyNid, certNid, iterations, macIterations, 0);
    if (!p12) {
        ERR_print_errors_fp(stderr);
        std::exit(1);
    }
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    QByteArray result(reinterpret_cast<const char*>(der), length);
    OPENSSL_free(der);
    return result;
}

// The values a stored invitation or an invitation file carries.
QString Document(const QByteArray& pfx, bool withAppData)
{
    CTVLCertParam param;
    param.AddString(QStringLiteral("Nickname"), QStringLiteral("Ann"));
    param.AddString(QStringLiteral("SessionDisplayName"),
                    QStringLiteral("Remote Desktop Access (RDP)"));
    param.AddString(QStringLiteral("DDNSNAME"), QStringLiteral("ann-pc.example.net"));
    param.AddBinary(QStringLiteral("IPV6Addr"),
                    QByteArray::fromHex("20010db8000000000000000000000042"));
    param.AddBinary(QStringLiteral("IPV6Port"), QByteArray::fromHex("bab8"));
    if (withAppData)
        param.AddBinary(QStringLiteral("Appdata"), QByteArray::fromHex("fffe3c00410042004300"));
    param.AddString(QStringLiteral("SessionInfo"), QStringLiteral("<TVLSessionStringFormat/>"));
    param.AddBinary(QStringLiteral("CertData"), pfx);
    return param.GetXml();
}

// The file as the cipher sees it: header and body in the clear.
QByteArray PlainFile(const QString& document)
{
    QByteArray bytes;
    auto units = [&bytes](const QString& text) {
        for (QChar c : text) {
            bytes.append(static_cast<char>(c.unicode() & 0xFF));
            bytes.append(static_cast<char>(c.unicode() >> 8));
        }
        bytes.append(2, '\0');
    };
    units(QStringLiteral("Encrypt.header.1.0"));
    units(document);
    return bytes;
}

void InvitationSeeds()
{
    const CCertificate cert = TestCertificates::MakeValid(QStringLiteral("Fuzzed Network"), 365);
    const QByteArray modern = Pkcs12(cert, "s3cret", 0, 0, 1, 1);
    const QByteArray storedPfx = Pkcs12(cert, "qz", 0, 0, 1, 1);
    const QByteArray legacy = Pkcs12(cert, "s3cret", NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                     NID_pbe_WithSHA1And40BitRC2_CBC, 1, 1);
    const QByteArray keyless = Pkcs12(cert, "s3cret", 0, 0, 1, 1, false);
    // As written by the program itself: OpenSSL's default counts.
    CTVLCertParam param;
    const QByteArray defaults = param.ExportCertificate(cert, QStringLiteral("s3cret"));

    const QString inv = QStringLiteral("invitation");
    Write(inv, QStringLiteral("file_text"), 2, Document(modern, true).toUtf8());
    Write(inv, QStringLiteral("file_bytes"), 0, PlainFile(Document(modern, false)));
    Write(inv, QStringLiteral("file_legacy_text"), 2, Document(legacy, false).toUtf8());
    Write(inv, QStringLiteral("file_default_counts"), 2, Document(defaults, false).toUtf8());
    Write(inv, QStringLiteral("stored_text"), 3, Document(storedPfx, true).toUtf8());
    Write(inv, QStringLiteral("stored_bytes"), 1, PlainFile(Document(storedPfx, false)));
    Write(inv, QStringLiteral("pfx"), 4, modern);
    Write(inv, QStringLiteral("pfx_remac"), 12, modern);
    Write(inv, QStringLiteral("pfx_legacy"), 4, legacy);
    Write(inv, QStringLiteral("pfx_keyless_remac"), 12, keyless);
    Write(inv, QStringLiteral("pfx_default_counts"), 4, defaults);
}

// ---------------------------------------------------------------------------

void CatalogSeeds()
{
    const QString cat = QStringLiteral("catalog");
    CSessionTypeFormat rdp;
    rdp.AddPortRange(3389, 3389, true);
    rdp.AddApplication(QStringLiteral("mstsc.exe"));
    CSessionTypeFormat web;
    web.AddPortRange(80, 80, false);
    web.AddPortRange(8000, 8080, false);
    const QList<QPair<QString, QString>> entries = {
        {QStringLiteral("Remote Desktop Access (RDP)"), rdp.GetText()},
        {QStringLiteral("Web \u00e9\U0001F600"), web.GetText()},
        {QStringLiteral("Empty"), QString()}};
    Write(cat, QStringLiteral("written"), 0, CSessionTypeCatalog::Serialize(entries));
    Write(cat, QStringLiteral("written_then_add"), 2, CSessionTypeCatalog::Serialize(entries));
    Write(cat, QStringLiteral("empty_catalogue"), 0, CSessionTypeCatalog::Serialize({}));

    // Forms another writer may use: 8-bit strings, the long count and
    // length forms, a repeated name, and a file that ends early.
    QByteArray other = QByteArray::fromHex("ffff03000000");                    // count 3 as u32
    other += QByteArray::fromHex("03") + "ftp";                                // 8-bit, short
    other += QByteArray::fromHex("ff0400") + "text";                           // 8-bit, u16 length
    other += QByteArray::fromHex("fffeff02") + QByteArray("f\0t\0", 4);        // wide, short
    other += QByteArray::fromHex("fffeffffff01000000") + QByteArray("x\0", 2); // wide, u32 length
    other += QByteArray::fromHex("03") + "ftp"; // the same name again
    other += QByteArray::fromHex("02") + "zz";
    Write(cat, QStringLiteral("other_forms"), 0, other);
    Write(cat, QStringLiteral("ends_early"), 2, other.left(other.size() - 5));
    Write(cat, QStringLiteral("huge_count"), 0,
          QByteArray::fromHex("ffffffffffffffffffffffff7f01"
                              "016100"));

    const char* ports[] = {"80,100,1200-1202", "S3389", "70000;-1: S1-2 ,,",
                           "1234567890-1",     "S",     "65535-0 S-5 7-"};
    int n = 0;
    for (const char* text : ports)
        Write(cat, QStringLiteral("ports_%1").arg(++n), 1, QByteArray(text));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus folder> [target...]\n", argv[0]);
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    QStringList wanted;
    for (int i = 2; i < argc; ++i)
        wanted << QString::fromLocal8Bit(argv[i]);
    TestEnvironment environment; // the section writer opens its lock there
    EnsurePkcs12Providers();
    const QList<QPair<QString, void (*)()>> makers = {
        {QStringLiteral("ipc"), IpcSeeds},
        {QStringLiteral("section"), SectionSeeds},
        {QStringLiteral("invitation"), InvitationSeeds},
        {QStringLiteral("catalog"), CatalogSeeds}};
    for (const auto& [target, make] : makers) {
        if (wanted.isEmpty() || wanted.contains(target))
            make();
    }
    std::printf("%d seeds written under %s\n", g_written, argv[1]);
    return 0;
}
