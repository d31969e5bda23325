#pragma once
#include <QString>
#include <QStringList>

#include <glog/logging.h>

#include <algorithm>
#include <mutex>

// The station's log lines while it is installed.
class GlogCapture : public google::LogSink
{
public:
    GlogCapture() { google::AddLogSink(this); }
    ~GlogCapture() override { google::RemoveLogSink(this); }
    using google::LogSink::send;
    void send(google::LogSeverity, const char*, const char*, int, const google::LogMessageTime&, const char* message,
              size_t len) override
    {
        std::lock_guard<std::mutex> l(m_mx);
        m_lines << QString::fromUtf8(message, int(len));
    }
    bool has(const QString& part) const
    {
        std::lock_guard<std::mutex> l(m_mx);
        return std::any_of(m_lines.begin(), m_lines.end(), [&](const QString& s) { return s.contains(part); });
    }
    void clear()
    {
        std::lock_guard<std::mutex> l(m_mx);
        m_lines.clear();
    }
    int count(const QString& part) const
    {
        std::lock_guard<std::mutex> l(m_mx);
        return int(std::count_if(m_lines.begin(), m_lines.end(), [&](const QString& s) { return s.contains(part); }));
    }

private:
    mutable std::mutex m_mx;
    QStringList m_lines;
};
