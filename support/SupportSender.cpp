#include "support/SupportSender.h"

#include "support/SupportReport.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
// The system's proxy settings (http_proxy and friends, or the desktop's),
// for this sender only: the rest of the program keeps Qt's default.
class SystemProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        return systemProxyForQuery(query);
    }
};

QString statusText(int status, const QString& reason)
{
    QString text =
        QCoreApplication::translate("CSupportSender", "The server answered %1").arg(status);
    if (!reason.isEmpty())
        text += QLatin1Char(' ') + reason;
    return text + QLatin1Char('.');
}
} // namespace

CSupportSender::CSupportSender(QObject* parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    m_manager->setProxyFactory(new SystemProxyFactory);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CSupportSender::onTimeout);
}

CSupportSender::~CSupportSender()
{
    if (m_reply) {
        // Nobody is left to hear the outcome.
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

void CSupportSender::SetTimeout(std::chrono::milliseconds timeout)
{
    m_timeout = timeout;
}

bool CSupportSender::Send(const QUrl& url, const QByteArray& body)
{
    if (m_reply)
        return false;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(SupportReport::kContentType));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    // Nothing about the report may be kept on disk.
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    m_timedOut = false;
    m_cancelled = false;
    m_reply = m_manager->post(request, body);
    connect(m_reply, &QNetworkReply::finished, this, &CSupportSender::onReplyFinished);
    m_timer.start(m_timeout);
    return true;
}

void CSupportSender::Cancel()
{
    if (!m_reply)
        return;
    m_cancelled = true;
    m_reply->abort();
}

void CSupportSender::onTimeout()
{
    if (!m_reply)
        return;
    m_timedOut = true;
    m_reply->abort();
}

void CSupportSender::onReplyFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply || sender() != reply)
        return;
    m_timer.stop();
    m_reply.clear();
    reply->deleteLater();

    Result result;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.httpStatus = status.isValid() ? status.toInt() : 0;
    const QString reason =
        QString::fromLatin1(
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray())
            .trimmed();

    if (m_cancelled) {
        result.kind = Result::Kind::Cancelled;
        result.detail = tr("Sending was cancelled.");
    } else if (m_timedOut) {
        result.kind = Result::Kind::TimedOut;
        const auto seconds = (m_timeout.count() + 999) / 1000;
        result.detail = tr("The support web server did not answer within %1 %2.")
                            .arg(seconds)
                            .arg(seconds == 1 ? tr("second") : tr("seconds"));
    } else if (reply->error() == QNetworkReply::NoError && result.httpStatus >= 200 &&
               result.httpStatus < 300) {
        result.kind = Result::Kind::Sent;
    } else {
        // Only a 2xx answer means the help centre took the report; an error
        // page or a redirect that was not followed does not.
        result.kind = Result::Kind::Failed;
        const bool redirectFault = reply->error() == QNetworkReply::TooManyRedirectsError ||
                                   reply->error() == QNetworkReply::InsecureRedirectError;
        if (result.httpStatus != 0 && !redirectFault)
            result.detail = statusText(result.httpStatus, reason);
        else
            result.detail = reply->errorString() + QLatin1Char('.');
    }
    emit finished(result);
}
