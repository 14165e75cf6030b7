// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "PrometheusReply.h"

#include "ServerName.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

using Json = nlohmann::json;

/* A reason quoted from the other side is cut and cleaned before it reaches a terminal. */
constexpr std::size_t MaxReasonBytes = 512;

/* The keys the readers look at. One object that gives one of them twice is ambiguous: a
   tree would keep the last, a streaming reader may already have used the first. */
constexpr std::array<std::string_view, 12> ReadKeys = {
    "status", "error",  "data",   "activeTargets", "result", "scrapeUrl",
    "health", "labels", "metric", "instance",      "job",    "nodename"};

/* One open object or array; in an object the key whose value comes next, and which of
   ReadKeys it has given. */
struct Frame {
    bool array = false;
    std::string key;
    std::uint16_t seen = 0;
};

/* nlohmann-json's SAX events, turned into "a value at this path". The parser keeps no
   tree and no recursion of its own; this refuses nesting past MaxApiReplyDepth as it
   opens, so a reply nested ten thousand deep stops at its 65th bracket. Reads the common
   envelope, {"status": ..., "error": ..., "data": {...}}, and hands everything inside
   data to the reader. */
class ApiReplySax {
public:
    virtual ~ApiReplySax() = default;

    bool null() { return Scalar(nullptr); }
    bool boolean(bool) { return Scalar(nullptr); }
    bool number_integer(Json::number_integer_t) { return Scalar(nullptr); }
    bool number_unsigned(Json::number_unsigned_t) { return Scalar(nullptr); }
    bool number_float(Json::number_float_t, const std::string&) { return Scalar(nullptr); }
    bool binary(Json::binary_t&) { return Scalar(nullptr); }
    bool string(std::string& value) { return Scalar(&value); }

    bool start_object(std::size_t) { return Open(false); }
    bool start_array(std::size_t) { return Open(true); }
    bool key(std::string& key) {
        Frame& frame = m_path.back();
        const auto read = std::find(ReadKeys.begin(), ReadKeys.end(), key);
        if (read != ReadKeys.end()) {
            const auto bit = std::uint16_t(1U << (read - ReadKeys.begin()));
            if ((frame.seen & bit) != 0) {
                m_error = "the key \"" + key + "\" is given twice in one object";
                return false;
            }
            frame.seen |= bit;
        }
        frame.key = std::move(key);
        return true;
    }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
        if (m_error.empty())
            m_error = "not JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

    /* Runs the parse and judges the envelope. */
    ApiVerdict Read(std::string_view reply) {
        ApiVerdict verdict;
        if (reply.size() > MaxApiReplyBytes) {
            verdict.error = "reply over " + std::to_string(MaxApiReplyBytes >> 20) + " MiB";
            return verdict;
        }
        bool parsed = false;
        try {
            parsed = Json::sax_parse(reply.begin(), reply.end(), this);
        } catch (const std::bad_alloc&) {
            // The one exception the parse can raise: memory ran out, not the reply's fault.
            m_error = "out of memory";
        }
        if (!parsed || !m_error.empty())
            verdict.error = m_error.empty() ? std::string("not JSON") : m_error;
        else if (m_status == "error")
            verdict.error = m_reason.empty() ? std::string("status error") : m_reason;
        else if (m_status != "success")
            verdict.error = "no status \"success\"";
        else if (!m_sawList)
            verdict.error = std::string("no array data.") + ListName();
        else
            verdict.ok = true;
        verdict.leftOut = verdict.ok ? m_leftOut : 0;
        return verdict;
    }

protected:
    /* The key of the list inside data: "activeTargets" or "result". */
    virtual const char* ListName() const = 0;
    /* A list element opens (an object, at depth 3) or closes. */
    virtual void OpenEntry() = 0;
    virtual void CloseEntry() = 0;
    /* A scalar inside a list element: `value` is null for any non-string. */
    virtual void EntryValue(std::string* value) = 0;

    /* How deep a value lies in its list element: 1 for the element's own members. */
    std::size_t EntryDepth() const { return m_path.size() - 3; }
    /* The key at `depth` on the way down to the value: EntryKey(1) is the member's. */
    const std::string& EntryKey(std::size_t depth) const { return m_path[2 + depth].key; }
    std::size_t m_leftOut = 0;

private:
    bool InList() const {
        return m_path.size() >= 3 && !m_path[0].array && m_path[0].key == "data" &&
               !m_path[1].array && m_path[1].key == ListName() && m_path[2].array;
    }

    bool Open(bool array) {
        if (m_path.size() >= std::size_t(MaxApiReplyDepth)) {
            m_error = "nested deeper than " + std::to_string(MaxApiReplyDepth);
            return false;
        }
        if (array && m_path.size() == 2 && InListPrefix())
            m_sawList = true;
        if (!array && m_path.size() == 3 && InList())
            OpenEntry();
        m_path.push_back(Frame{array, {}});
        return true;
    }

    bool Close() {
        const bool array = m_path.back().array;
        m_path.pop_back();
        if (!array && m_path.size() == 3 && InList())
            CloseEntry();
        return true;
    }

    bool InListPrefix() const {
        return !m_path[0].array && m_path[0].key == "data" && !m_path[1].array &&
               m_path[1].key == ListName();
    }

    bool Scalar(std::string* value) {
        if (m_path.size() == 1 && !m_path[0].array) {
            if (m_path[0].key == "status")
                m_status = value ? std::move(*value) : std::string();
            else if (m_path[0].key == "error")
                m_reason = value ? ListableServerName(*value, MaxReasonBytes) : std::string();
        } else if (m_path.size() >= 4 && InList() && !m_path[3].array) {
            EntryValue(value);
        }
        return true;
    }

    std::vector<Frame> m_path;
    std::string m_status;
    std::string m_reason;
    std::string m_error;
    bool m_sawList = false;
};

bool Fits(const std::string& field) {
    return field.size() <= MaxDiscoveredFieldBytes;
}

/* Sets `field` to a string value, or marks it absent for any other value. */
void Take(std::string* value, std::string& field, bool& present) {
    present = value != nullptr;
    if (value)
        field = std::move(*value);
}

class TargetsSax final : public ApiReplySax {
public:
    TargetsSax(std::string_view job, std::vector<ActiveTarget>& targets) : m_job(job), m_targets(targets) {}

private:
    const char* ListName() const override { return "activeTargets"; }
    void OpenEntry() override {
        m_entry = {};
        m_hasInstance = m_hasUrl = m_isJob = m_isUp = false;
    }
    void EntryValue(std::string* value) override {
        if (EntryDepth() == 1) {
            const std::string& key = EntryKey(1);
            if (key == "scrapeUrl")
                Take(value, m_entry.scrapeUrl, m_hasUrl);
            else if (key == "health")
                m_isUp = value && *value == "up";
        } else if (EntryDepth() == 2 && EntryKey(1) == "labels") {
            const std::string& key = EntryKey(2);
            if (key == "instance")
                Take(value, m_entry.instance, m_hasInstance);
            else if (key == "job")
                m_isJob = value && *value == m_job;
        }
    }
    void CloseEntry() override {
        if (!(m_isJob && m_isUp && m_hasInstance && m_hasUrl && Fits(m_entry.instance) &&
              Fits(m_entry.scrapeUrl)))
            return;
        if (m_targets.size() == MaxDiscoveredServers) {
            ++m_leftOut;
            return;
        }
        m_targets.push_back(std::move(m_entry));
    }

    std::string_view m_job;
    std::vector<ActiveTarget>& m_targets;
    ActiveTarget m_entry;
    bool m_hasInstance = false;
    bool m_hasUrl = false;
    bool m_isJob = false;
    bool m_isUp = false;
};

class NamesSax final : public ApiReplySax {
public:
    explicit NamesSax(std::vector<InstanceName>& names) : m_names(names) {}

private:
    const char* ListName() const override { return "result"; }
    void OpenEntry() override {
        m_entry = {};
        m_hasInstance = m_hasName = false;
    }
    void EntryValue(std::string* value) override {
        if (EntryDepth() != 2 || EntryKey(1) != "metric")
            return;
        const std::string& key = EntryKey(2);
        if (key == "instance")
            Take(value, m_entry.instance, m_hasInstance);
        else if (key == "nodename")
            Take(value, m_entry.nodeName, m_hasName);
    }
    void CloseEntry() override {
        if (!(m_hasInstance && m_hasName && Fits(m_entry.instance) && Fits(m_entry.nodeName)))
            return;
        if (m_names.size() == MaxDiscoveredNames) {
            ++m_leftOut;
            return;
        }
        m_names.push_back(std::move(m_entry));
    }

    std::vector<InstanceName>& m_names;
    InstanceName m_entry;
    bool m_hasInstance = false;
    bool m_hasName = false;
};

class TargetStatesSax final : public ApiReplySax {
public:
    TargetStatesSax(std::string_view job, std::vector<TargetState>& targets)
        : m_job(job), m_targets(targets) {}

private:
    const char* ListName() const override { return "activeTargets"; }
    void OpenEntry() override {
        m_entry = {};
        m_hasInstance = m_isJob = false;
    }
    void EntryValue(std::string* value) override {
        if (EntryDepth() == 1 && value != nullptr) {
            const std::string& key = EntryKey(1);
            if (key == "health")
                m_entry.up = *value == "up";
            else if (key == "lastError")
                m_entry.lastError = ListableServerName(*value, MaxReasonBytes);
            else if (key == "scrapeInterval")
                m_entry.scrapeInterval = value->substr(0, 32);
        } else if (EntryDepth() == 2 && EntryKey(1) == "labels") {
            const std::string& key = EntryKey(2);
            if (key == "instance")
                Take(value, m_entry.instance, m_hasInstance);
            else if (key == "job")
                m_isJob = value && *value == m_job;
        } else if (EntryDepth() == 2 && EntryKey(1) == "discoveredLabels" && value != nullptr &&
                   EntryKey(2) == "__scrape_interval__" && m_entry.scrapeInterval.empty()) {
            // VictoriaMetrics gives the interval only here; Prometheus's own field, after it, wins.
            m_entry.scrapeInterval = value->substr(0, 32);
        }
    }
    void CloseEntry() override {
        if (!(m_isJob && m_hasInstance && Fits(m_entry.instance)))
            return;
        if (m_targets.size() == MaxDiscoveredServers) {
            ++m_leftOut;
            return;
        }
        m_targets.push_back(std::move(m_entry));
    }

    std::string_view m_job;
    std::vector<TargetState>& m_targets;
    TargetState m_entry;
    bool m_hasInstance = false;
    bool m_isJob = false;
};

/* The value of a sample as the API writes it, a string; NaN unless a finite number. */
double SampleValue(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        return std::numeric_limits<double>::quiet_NaN();
    return value;
}

class ValuesSax final : public ApiReplySax {
public:
    explicit ValuesSax(std::vector<InstanceValue>& values) : m_values(values) {}

private:
    const char* ListName() const override { return "result"; }
    void OpenEntry() override {
        m_entry = {};
        m_hasInstance = m_hasValue = false;
        m_valueIndex = 0;
    }
    void EntryValue(std::string* value) override {
        if (EntryDepth() == 2 && EntryKey(1) == "metric" && EntryKey(2) == "instance") {
            Take(value, m_entry.instance, m_hasInstance);
        } else if (EntryDepth() == 2 && EntryKey(1) == "value") {
            // [time, "value"]: the time is a number, the value its second element, a string.
            if (m_valueIndex++ == 1 && value != nullptr) {
                m_entry.value = SampleValue(*value);
                m_hasValue = true;
            }
        }
    }
    void CloseEntry() override {
        if (!(m_hasInstance && m_hasValue && Fits(m_entry.instance)))
            return;
        if (m_values.size() == MaxDiscoveredNames) {
            ++m_leftOut;
            return;
        }
        m_values.push_back(std::move(m_entry));
    }

    std::vector<InstanceValue>& m_values;
    InstanceValue m_entry;
    bool m_hasInstance = false;
    bool m_hasValue = false;
    int m_valueIndex = 0;
};

} // namespace

bool ReplyBuffer::Append(std::string_view bytes) {
    if (bytes.size() > MaxApiReplyBytes - m_size)
        return false;
    const std::size_t needed = m_size + bytes.size();
    if (needed > m_capacity) {
        const std::size_t capacity = std::min(std::max(needed, m_capacity * 2), MaxApiReplyBytes);
        char* grown = static_cast<char*>(std::realloc(m_data.get(), capacity));
        if (grown == nullptr)
            return false;
        m_data.release();
        m_data.reset(grown);
        m_capacity = capacity;
    }
    if (!bytes.empty())
        std::memcpy(m_data.get() + m_size, bytes.data(), bytes.size());
    m_size = needed;
    return true;
}

void ReplyBuffer::Clear() {
    m_data.reset();
    m_size = m_capacity = 0;
}

namespace {

/* A reader's verdict; what it read is dropped unless the whole reply was good. */
template <typename Row>
ApiVerdict Kept(ApiVerdict verdict, std::vector<Row>& rows) {
    if (!verdict.ok)
        rows.clear();
    return verdict;
}

} // namespace

ApiVerdict ReadActiveTargets(std::string_view reply, std::string_view job,
                             std::vector<ActiveTarget>& targets) {
    targets.clear();
    return Kept(TargetsSax(job, targets).Read(reply), targets);
}

ApiVerdict ReadInstanceNames(std::string_view reply, std::vector<InstanceName>& names) {
    names.clear();
    return Kept(NamesSax(names).Read(reply), names);
}

ApiVerdict ReadTargetStates(std::string_view reply, std::string_view job,
                            std::vector<TargetState>& targets) {
    targets.clear();
    return Kept(TargetStatesSax(job, targets).Read(reply), targets);
}

ApiVerdict ReadInstanceValues(std::string_view reply, std::vector<InstanceValue>& values) {
    values.clear();
    return Kept(ValuesSax(values).Read(reply), values);
}
