#include "influxserver.h"

#include "curllibrary.h"
#include "serverprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QUrl>

#include <curl/curl.h>

namespace {

size_t collect(char* data, size_t size, size_t count, void* target)
{
    static_cast<QByteArray*>(target)->append(data, int(size * count));
    return size * count;
}

// A form body with every character outside the unreserved set encoded ('+' included, which a
// form would read as a space).
QByteArray form(const QList<QPair<QString, QString>>& fields)
{
    QByteArray body;
    for (const auto& field : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(field.first) + '=' + QUrl::toPercentEncoding(field.second);
    }
    return body;
}

} // namespace

InfluxServer::InfluxServer(const QString& folder, bool authentication)
    : m_folder(folder), m_authentication(authentication),
      m_process(std::make_unique<ServerProcess>())
{
    CurlLibrary::setUp();
}

InfluxServer::~InfluxServer() = default;

bool InfluxServer::writeConfig()
{
    if (m_httpPort == 0) {
        m_bindPort = ServerProcess::freeLoopbackPort();
        m_httpPort = ServerProcess::freeLoopbackPort();
    }
    QFile file(m_folder + QStringLiteral("/influxdb.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = file.errorString();
        return false;
    }
    QTextStream conf(&file);
    conf << "reporting-disabled = true\n"
         << "bind-address = \"127.0.0.1:" << m_bindPort << "\"\n"
         << "[meta]\n  dir = \"" << m_folder << "/meta\"\n"
         << "[data]\n  dir = \"" << m_folder << "/data\"\n"
         << "  wal-dir = \"" << m_folder << "/wal\"\n"
         << "  query-log-enabled = false\n"
         << "[monitor]\n  store-enabled = false\n"
         << "[http]\n  bind-address = \"127.0.0.1:" << m_httpPort << "\"\n"
         << "  log-enabled = true\n"
         << "  auth-enabled = " << (m_authentication ? "true" : "false") << "\n";
    return true;
}

bool InfluxServer::start()
{
    m_error.clear();
    if (!writeConfig())
        return false;
    if (!m_process->startAndWait(QStringLiteral(INFLUXD_PROGRAM),
                                 {QStringLiteral("run"), QStringLiteral("-config"),
                                  m_folder + QStringLiteral("/influxdb.conf")},
                                 QStringLiteral("Listening on HTTP"))) {
        m_error = m_process->error();
        return false;
    }
    if (request("GET", QStringLiteral("/ping"), QByteArray()) != 204) {
        m_error = QStringLiteral("influxd does not answer /ping:\n") + m_process->output();
        return false;
    }
    if (m_authentication && !m_adminMade) {
        // The one statement InfluxDB takes without a login while it has no user.
        const QByteArray statement =
            form({{QStringLiteral("q"),
                   QStringLiteral("CREATE USER %1 WITH PASSWORD '%2' WITH ALL PRIVILEGES")
                       .arg(adminUser(), adminPassword())}});
        QByteArray body;
        if (request("POST", QStringLiteral("/query"), statement, &body, false) != 200) {
            m_error =
                QStringLiteral("the administrator could not be made: ") + QString::fromUtf8(body);
            return false;
        }
        m_adminMade = true;
    }
    return true;
}

void InfluxServer::stop()
{
    m_process->stop();
}

void InfluxServer::killHard()
{
    m_process->killHard();
}

QString InfluxServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_httpPort);
}

int InfluxServer::request(const QByteArray& method, const QString& pathAndQuery,
                          const QByteArray& payload, QByteArray* body, bool asAdmin) const
{
    CURL* curl = curl_easy_init();
    QByteArray answer;
    const QByteArray address = (url() + pathAndQuery).toUtf8();
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const QByteArray user = adminUser().toUtf8();
    const QByteArray password = adminPassword().toUtf8();
    if (m_authentication && asAdmin) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_slist* headers = nullptr;
    if (method == "POST") {
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(payload.size()));
    }
    long code = 0;
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (body)
        *body = answer;
    return int(code);
}

bool InfluxServer::createDatabase(const QString& name) const
{
    return request("POST", QStringLiteral("/query"),
                   form({{QStringLiteral("q"),
                          QStringLiteral("CREATE DATABASE \"%1\"").arg(name)}})) == 200;
}

int InfluxServer::write(const QString& database, const QByteArray& lines) const
{
    return request(
        "POST",
        QStringLiteral("/write?") +
            QString::fromLatin1(form({{QStringLiteral("db"), database},
                                      {QStringLiteral("precision"), QStringLiteral("s")}})),
        lines);
}

QJsonObject InfluxServer::query(const QString& database, const QString& statement) const
{
    QByteArray body;
    request("POST", QStringLiteral("/query"),
            form({{QStringLiteral("db"), database},
                  {QStringLiteral("epoch"), QStringLiteral("s")},
                  {QStringLiteral("q"), statement}}),
            &body);
    return QJsonDocument::fromJson(body)
        .object()
        .value(QStringLiteral("results"))
        .toArray()
        .first()
        .toObject();
}

QString InfluxServer::log() const
{
    return m_process->output();
}

int InfluxServer::countInLog(const QString& text) const
{
    return m_process->countInOutput(text);
}
