// An instance source for the probes whose classes, queries and property values a test sets up,
// and which records every call the probes make on it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/wmi/WmiConnection.h"

namespace quorvane::fake {

inline WmiValue textValue(std::u16string text) {
    WmiValue value;
    value.kind = WmiValue::Kind::Text;
    value.text = std::move(text);
    return value;
}

inline WmiValue integerValue(std::int32_t integer) {
    WmiValue value;
    value.kind = WmiValue::Kind::Integer;
    value.integer = integer;
    return value;
}

inline WmiValue nullValue() {
    WmiValue value;
    value.kind = WmiValue::Kind::Null;
    return value;
}

// A property that is not listed reads as a failed Get.
using FakeInstance = std::vector<std::pair<std::u16string, WmiValue>>;

struct FakeWmiLog {
    std::vector<std::u16string> enumeratedClasses;
    std::vector<std::u16string> queries;
    std::vector<std::u16string> propertiesRead;
    int nextCalls = 0;
    int instancesDelivered = 0;
    int instancesReleased = 0;
    int enumeratorsReleased = 0;
};

class FakeWmiObject : public WmiObject {
  public:
    FakeWmiObject(FakeInstance properties, std::shared_ptr<FakeWmiLog> log)
        : properties_(std::move(properties)), log_(std::move(log)) {}
    ~FakeWmiObject() override { ++log_->instancesReleased; }

    WmiValue get(const char16_t* propertyName) override {
        log_->propertiesRead.emplace_back(propertyName);
        for (const auto& property : properties_) {
            if (property.first == propertyName) {
                return property.second;
            }
        }
        return WmiValue{};
    }

  private:
    FakeInstance properties_;
    std::shared_ptr<FakeWmiLog> log_;
};

// Delivers its instances in order; with `timeOutAfter` set, the walk ends with a time-out
// after that many instances instead of at the end.
class FakeWmiEnumerator : public WmiEnumerator {
  public:
    FakeWmiEnumerator(std::vector<FakeInstance> instances, std::shared_ptr<FakeWmiLog> log,
                      std::size_t timeOutAfter = static_cast<std::size_t>(-1))
        : instances_(std::move(instances)), log_(std::move(log)), timeOutAfter_(timeOutAfter) {}
    ~FakeWmiEnumerator() override { ++log_->enumeratorsReleased; }

    std::unique_ptr<WmiObject> nextInstance() override {
        ++log_->nextCalls;
        if (position_ >= timeOutAfter_) {
            return nullptr;
        }
        if (position_ >= instances_.size()) {
            reachedEnd_ = true;
            return nullptr;
        }
        ++log_->instancesDelivered;
        return std::make_unique<FakeWmiObject>(instances_[position_++], log_);
    }

    bool reachedEnd() const override { return reachedEnd_; }

  private:
    std::vector<FakeInstance> instances_;
    std::size_t position_ = 0;
    std::shared_ptr<FakeWmiLog> log_;
    std::size_t timeOutAfter_;
    bool reachedEnd_ = false;
};

class FakeWmiConnection : public WmiConnection {
  public:
    // Classes and queries that were never set up fail.
    void setClass(const std::u16string& className, std::vector<FakeInstance> instances) {
        classes_[className] = std::move(instances);
    }
    void setQuery(const std::u16string& queryText, std::vector<FakeInstance> instances) {
        queries_[queryText] = std::move(instances);
    }
    // The class's walk times out after `count` instances (it is set up with setClass).
    void timeOutClassAfter(const std::u16string& className, std::size_t count) {
        timeOuts_[className] = count;
    }
    void removeClass(const std::u16string& className) {
        classes_.erase(className);
        timeOuts_.erase(className);
    }
    void removeQuery(const std::u16string& queryText) { queries_.erase(queryText); }

    FakeWmiLog& log() { return *log_; }
    void clearLog() { *log_ = FakeWmiLog{}; }

    std::unique_ptr<WmiEnumerator> enumerateClass(const char16_t* className) override {
        log_->enumeratedClasses.emplace_back(className);
        const auto timeOut = timeOuts_.find(className);
        if (timeOut != timeOuts_.end() && classes_.count(className) != 0) {
            return std::make_unique<FakeWmiEnumerator>(classes_[className], log_, timeOut->second);
        }
        return open(classes_, className);
    }
    std::unique_ptr<WmiEnumerator> execWqlQuery(const char16_t* wqlText) override {
        log_->queries.emplace_back(wqlText);
        return open(queries_, wqlText);
    }

  private:
    using Table = std::map<std::u16string, std::vector<FakeInstance>>;

    std::unique_ptr<WmiEnumerator> open(const Table& table, const char16_t* key) {
        const auto found = table.find(key);
        if (found == table.end()) {
            return nullptr;
        }
        return std::make_unique<FakeWmiEnumerator>(found->second, log_);
    }

    Table classes_;
    Table queries_;
    std::map<std::u16string, std::size_t> timeOuts_;
    std::shared_ptr<FakeWmiLog> log_ = std::make_shared<FakeWmiLog>();
};

}  // namespace quorvane::fake
