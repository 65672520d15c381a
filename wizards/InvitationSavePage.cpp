#include "wizards/InvitationSavePage.h"

#include "resources/StringTable.h"
#include "skin/FileDialogs.h"
#include "skin/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr quint32 IDS_INVITATION_FILTER = 104;
constexpr quint32 IDS_SAVE_INVITATION = 136;
constexpr quint32 IDS_INVITATION_SUFFIX = 137;
constexpr quint32 IDS_INVALID_PATH = 139;
constexpr quint32 IDS_ENTER_PASSWORD = 140;
constexpr quint32 IDS_PASSWORD_MISMATCH = 142;
constexpr quint32 IDS_SAVE_TITLE = 143;
constexpr quint32 IDS_SAVE_SUBTITLE = 144;
constexpr quint32 IDS_PASSWORD_TOO_SHORT = 150;
constexpr qsizetype kMinimumPasswordLength = 6;

// Where the save dialog opens: beside the file chosen last, else among the
// user's documents.
QString SaveFolder(const QString& current)
{
    if (!current.isEmpty()) {
        const QString folder = QFileInfo(current).absolutePath();
        if (QFileInfo(folder).isDir())
            return folder;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

// An existing file: opened for writing without truncating it. Non-blocking, so
// that a FIFO planted at the path fails at once instead of waiting for a reader.
bool ExistingFileWritable(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st = {};
    // A device or a FIFO is no place for an invitation file.
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}
} // namespace

CInvitationSavePage::CInvitationSavePage(QWidget* parent) : QWizardPage(parent)
{
    setObjectName(QStringLiteral("invitationSavePage"));
    setTitle(LoadString(IDS_SAVE_TITLE));
    setSubTitle(LoadString(IDS_SAVE_SUBTITLE));

    auto* pathLabel = new QLabel(QStringLiteral("Enter a path and filename :"), this);
    m_pathEdit = new QLineEdit(this);
    m_pathEdit->setObjectName(QStringLiteral("pathEdit"));
    m_pathEdit->setAccessibleName(QStringLiteral("Invitation file"));
    // Filled only by Browse, so that what is shown is what the dialog chose.
    m_pathEdit->setReadOnly(true);
    pathLabel->setBuddy(m_pathEdit);
    m_browseButton = new QPushButton(QStringLiteral("Browse.."), this);
    m_browseButton->setObjectName(QStringLiteral("browseButton"));
    m_browseButton->setAccessibleName(QStringLiteral("Browse for the invitation file"));
    m_browseButton->setAutoDefault(false);
    connect(m_browseButton, &QPushButton::clicked, this, &CInvitationSavePage::OnBrowse);

    auto* passwordLabel = new QLabel(QStringLiteral("Password (at least 6 characters) :"), this);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    m_passwordEdit->setAccessibleName(QStringLiteral("Password"));
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(m_passwordEdit);

    auto* confirmLabel = new QLabel(QStringLiteral("Confirm password :"), this);
    m_confirmEdit = new QLineEdit(this);
    m_confirmEdit->setObjectName(QStringLiteral("confirmEdit"));
    m_confirmEdit->setAccessibleName(QStringLiteral("Confirm password"));
    m_confirmEdit->setEchoMode(QLineEdit::Password);
    confirmLabel->setBuddy(m_confirmEdit);

    auto* layout = new QGridLayout(this);
    layout->addWidget(pathLabel, 0, 0, 1, 2);
    layout->addWidget(m_pathEdit, 1, 0);
    layout->addWidget(m_browseButton, 1, 1);
    layout->addWidget(passwordLabel, 2, 0, 1, 2);
    layout->addWidget(m_passwordEdit, 3, 0);
    layout->addWidget(confirmLabel, 4, 0, 1, 2);
    layout->addWidget(m_confirmEdit, 5, 0);
    layout->setRowStretch(6, 1);
    setTabOrder(m_browseButton, m_passwordEdit);
    setTabOrder(m_passwordEdit, m_confirmEdit);
}

CInvitationSavePage::~CInvitationSavePage() = default;

void CInvitationSavePage::OnBrowse()
{
    const QString chosen = FileDialogs::getSaveFileName(
        this, LoadString(IDS_SAVE_INVITATION), SaveFolder(m_pathEdit->text()),
        FileDialogs::FilterFromTable(LoadString(IDS_INVITATION_FILTER)),
        LoadString(IDS_INVITATION_SUFFIX));
    if (chosen.isEmpty())
        return;
    // The service writes the file from its own working folder.
    m_pathEdit->setText(QFileInfo(chosen).absoluteFilePath());
}

bool CInvitationSavePage::validatePage()
{
    m_path = m_pathEdit->text();
    m_password = m_passwordEdit->text();
    const QString confirmation = m_confirmEdit->text();
    QWidget* owner = window();
    if (!CanWritePath(m_path)) {
        Prompter::error(owner, LoadString(IDS_INVALID_PATH));
        m_browseButton->setFocus();
        return false;
    }
    if (m_password.isEmpty()) {
        Prompter::error(owner, LoadString(IDS_ENTER_PASSWORD));
        m_passwordEdit->setFocus();
        return false;
    }
    // Characters as the user sees them: a letter outside the basic plane is
    // one character, not two.
    if (m_password.toUcs4().size() < kMinimumPasswordLength) {
        Prompter::error(owner, LoadString(IDS_PASSWORD_TOO_SHORT));
        m_passwordEdit->setFocus();
        return false;
    }
    if (confirmation != m_password) {
        Prompter::error(owner, LoadString(IDS_PASSWORD_MISMATCH));
        m_confirmEdit->setFocus();
        return false;
    }
    return true;
}

bool CInvitationSavePage::CanWritePath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0'))
        return false;
    // O_EXCL: the probe removes only a file it made itself. It also refuses a
    // link at the path, dangling or not, so nothing is made at its target.
    const int fd = ::open(native.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(native.constData());
        return true;
    }
    if (errno != EEXIST)
        return false;
    // Someone's file is there already (or a link to one): it may be
    // replaced only if it could be written, and it must survive the check.
    return ExistingFileWritable(native);
}
