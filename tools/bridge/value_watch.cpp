#include "tools/bridge/value_watch.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "korvex/data/cdata.h"
#include "korvex/korvex.h"
#include "tools/common/input_check.h"

namespace korvex::bridge {

ValueWatch::ValueWatch(Daten& daten, host::SimDriver& sim, std::string root, unsigned cnc,
                       std::vector<std::string> publish, std::vector<std::string> writable,
                       LogSink log)
    : mDaten(daten),
      mSim(sim),
      mRoot(std::move(root)),
      mCnc(cnc),
      mPublish(std::move(publish)),
      mWritable(std::move(writable)),
      mLog(std::move(log)) {}

unsigned ValueWatch::Elements(Daten& daten, std::uint16_t handle) {
    // A bit mask's index is its bit number.
    if (daten.DatenTyp(handle) == DInfo::BITMASK) return 8u * daten.DatenLaenge(handle);
    const unsigned elements = daten.GetMaxTabElemAnz(handle);
    return elements == 0 ? 1 : elements;
}

std::uint8_t ValueWatch::Read(Daten& daten, std::uint16_t handle, std::uint16_t index,
                              Reading& reading) {
    const std::uint16_t type = daten.DatenTyp(handle);
    char text[256] = "";
    std::uint8_t result = 0;
    if (type == DInfo::STRING) {
        result = daten.GetValue(handle, text, sizeof text - 1, index, 255);
        if (result != 0) return result;
        reading.kind = Reading::Kind::Text;
        reading.text = text;
        reading.display = text;
    } else if (type == DInfo::REAL) {
        double value = 0;
        result = daten.GetValue(handle, value, index, 255);
        if (result != 0) return result;
        reading.kind = Reading::Kind::Real;
        reading.real = value;
        // The display may fail (stars, the invalid marker's "?") while the
        // value itself is good: the text is then whatever the conversion left.
        if (daten.Value2String(handle, value, text, sizeof text) > Daten::NotEnoughSpace &&
            value != Daten::kInvalidReal)
            text[0] = '\0';
        reading.display = text;
    } else {
        std::int32_t value = 0;
        result = daten.GetValue(handle, value, index, 255);
        if (result != 0) return result;
        reading.kind = Reading::Kind::Integer;
        // The unsigned type shows the number its bit pattern stands for.
        reading.integer = type == DInfo::QZLONGCARD
                              ? static_cast<std::int64_t>(static_cast<std::uint32_t>(value))
                              : value;
        if (daten.Value2String(handle, value, text, sizeof text) > Daten::NotEnoughSpace)
            text[0] = '\0';
        reading.display = text;
    }
    const char* unit = daten.GetUnitString(handle);
    reading.unit = unit ? unit : "";
    return 0;
}

std::uint8_t ValueWatch::Read(CData& object, std::uint16_t index, Reading& reading) {
    char text[256] = "";
    if (object.DatenTyp() == DInfo::STRING) {
        object.GetString(text, sizeof text, index, 255);
        if (object.LastError() != 0) return object.LastError();
        reading.kind = Reading::Kind::Text;
        reading.text = text;
        reading.display = text;
    } else {
        const std::int32_t value = object.GetValue(index, 255);
        if (object.LastError() != 0) return object.LastError();
        reading.kind = Reading::Kind::Integer;
        reading.integer = object.DatenTyp() == DInfo::QZLONGCARD
                              ? static_cast<std::int64_t>(static_cast<std::uint32_t>(value))
                              : value;
        if (object.Value2String(value, text, sizeof text) > Daten::NotEnoughSpace) text[0] = '\0';
        reading.display = text;
    }
    const char* unit = object.GetUnitString();
    reading.unit = unit ? unit : "";
    return 0;
}

ValueWatch::Item ValueWatch::NewItem(std::uint32_t group, unsigned index) const {
    Item item;
    item.object = mGroups[group].object;
    item.handle = mGroups[group].handle;
    item.index = static_cast<std::uint16_t>(index);
    item.name = group;
    item.topic = ValueTopic(mRoot, mCnc, Latin1ToUtf8(mNames[group]), index);
    return item;
}

unsigned ValueWatch::TableSize(const Group& group) {
    if (group.object) return std::max<unsigned>(1, group.object->GetMaxTabElemAnz());
    // A bit mask's size is its bits; a table the driver cannot size answers 0.
    if (mDaten.DatenTyp(group.handle) == DInfo::BITMASK) return Elements(mDaten, group.handle);
    return mDaten.GetMaxTabElemAnz(group.handle);
}

std::size_t ValueWatch::Collect() {
    mItems.clear();
    mNames.clear();
    mGroups.clear();
    mUnmatched.clear();
    std::size_t unfit = 0;
    const std::vector<std::string> all = {"*"};
    const std::vector<std::string>& patterns = mPublish.empty() ? all : mPublish;
    std::vector<bool> publishHit(mPublish.size()), writableHit(mWritable.size());
    auto take = [&](std::uint16_t handle, CData* object, std::string_view name) {
        for (std::size_t i = 0; i < mPublish.size(); ++i)
            if (!publishHit[i] && GlobMatch(mPublish[i], name)) publishHit[i] = true;
        for (std::size_t i = 0; i < mWritable.size(); ++i)
            if (!writableHit[i] && GlobMatch(mWritable[i], name)) writableHit[i] = true;
        if (!MatchesAny(patterns, name)) return;
        if (!NameFitsTopic(name)) {
            ++unfit;
            return;
        }
        mGroups.push_back({handle, object, 0});
        mNames.emplace_back(name);
    };
    Handles::ForEach([&](std::uint16_t handle, std::string_view name) {
        if (mDaten.FindRecord(handle)) take(handle, nullptr, name);
    });
    mDaten.ForEachUnnumbered([&](const std::string& name, CData* object) {
        if (object) take(Handles::kNoHandle, object, name);
    });
    for (std::size_t i = 0; i < mPublish.size(); ++i)
        if (!publishHit[i]) mUnmatched.push_back("--publish " + mPublish[i]);
    for (std::size_t i = 0; i < mWritable.size(); ++i)
        if (!writableHit[i]) mUnmatched.push_back("--writable " + mWritable[i]);
    for (std::uint32_t group = 0; group < mGroups.size(); ++group) {
        const unsigned elements = std::max(1u, TableSize(mGroups[group]));
        mGroups[group].elements = elements;
        for (unsigned index = 0; index < elements; ++index) mItems.push_back(NewItem(group, index));
    }
    if (unfit) mLog(std::to_string(unfit) + " names with '/', '+' or '#' are not published");
    return mItems.size();
}

std::size_t ValueWatch::FollowTableSizes(Outbox& outbox) {
    std::vector<unsigned> sizes(mGroups.size());
    std::size_t changed = 0;
    for (std::size_t group = 0; group < mGroups.size(); ++group) {
        const unsigned size = TableSize(mGroups[group]);
        sizes[group] = size == 0 ? mGroups[group].elements : size;
        if (sizes[group] != mGroups[group].elements) ++changed;
    }
    if (changed == 0) return 0;
    std::vector<Item> items;
    items.reserve(mItems.size());
    std::size_t next = 0;
    for (std::uint32_t group = 0; group < mGroups.size(); ++group) {
        const unsigned was = mGroups[group].elements;
        const unsigned now = sizes[group];
        for (unsigned index = 0; index < was; ++index) {
            Item& item = mItems[next + index];
            if (index < now)
                items.push_back(std::move(item));
            else if (item.known)
                outbox.PublishValue(item.topic, "");  // an empty retained message clears it
        }
        for (unsigned index = was; index < now; ++index) items.push_back(NewItem(group, index));
        next += was;
        if (was != now) {
            mLog(mNames[group] + ": " + std::to_string(now) + " elements (" + std::to_string(was) +
                 " before)");
            mGroups[group].elements = now;
        }
    }
    mItems.swap(items);
    return changed;
}

std::size_t ValueWatch::Pass(Outbox& outbox) {
    std::size_t published = 0;
    std::size_t failed = 0;
    const Item* firstFailure = nullptr;
    std::uint8_t firstCode = 0;
    Reading reading;
    for (Item& item : mItems) {
        const std::uint8_t code = item.object ? Read(*item.object, item.index, reading)
                                              : Read(mDaten, item.handle, item.index, reading);
        if (code != 0) {
            if (!failed++) firstFailure = &item, firstCode = code;
            continue;
        }
        if (item.known && SameReading(item.last, reading)) continue;
        const auto number = item.object ? std::nullopt : std::optional<std::uint16_t>(item.handle);
        outbox.PublishValue(item.topic, ValuePayload(number, mNames[item.name], item.index, reading));
        std::swap(item.last, reading);
        item.known = true;
        ++published;
    }
    // One line when the number of failing reads changes, not one per pass.
    if (failed != mFailedReads) {
        if (failed)
            mLog(std::to_string(failed) + " values could not be read (first " +
                 mNames[firstFailure->name] + " " + std::to_string(firstFailure->index) + ": " +
                 Daten::ErrorText(firstCode) + ")");
        else
            mLog("every value reads again");
        mFailedReads = failed;
    }
    return published;
}

std::uint8_t ValueWatch::CheckSet(const std::string& name, const std::string& indexText,
                                  const std::string& payload, std::size_t payloadSize,
                                  std::uint16_t& handle, CData*& object, std::uint16_t& index,
                                  std::string& text) {
    std::string latin1;
    handle = Handles::kNoHandle;
    object = nullptr;
    if (Utf8ToLatin1(name, latin1) && mDaten.GetHandles())
        handle = mDaten.GetHandles()->NameToHandle(latin1.c_str());
    // An object without a number is found by its name.
    if (handle == Handles::kNoHandle && !latin1.empty()) {
        object = mDaten.FindRegistered(latin1.c_str());
        if (!object || object->Handle() != Handles::kNoHandle) object = nullptr;
    }
    if (!object && (handle == Handles::kNoHandle || !mDaten.FindRecord(handle)))
        return Daten::HandleNotFound;
    if (!MatchesAny(mWritable, latin1)) return Daten::DirectAccessNotAllowed;
    unsigned long number = 0;
    if (!tools::ParseUnsigned(indexText, 0xFFFFFFFF, number)) {
        bool digits = !indexText.empty();
        for (char c : indexText) digits = digits && c >= '0' && c <= '9';
        return digits ? Daten::ValueOutOfRange : Daten::ParameterError;
    }
    const unsigned elements =
        object ? std::max<unsigned>(1, object->GetMaxTabElemAnz()) : Elements(mDaten, handle);
    if (number >= elements) return Daten::ValueOutOfRange;
    index = static_cast<std::uint16_t>(number);
    if (payloadSize > kMaxSetText) return Daten::NotEnoughSpace;
    // An empty payload is no input (and what clearing a retained message sends).
    if (payloadSize == 0 || !Utf8ToLatin1(payload, text)) return Daten::SyntaxError;
    return Daten::Ok;
}

std::uint8_t ValueWatch::Set(const std::string& topic, const std::string& payload,
                             std::size_t payloadSize, Outbox& outbox) {
    std::string name, indexText;
    if (!ParseSetTopic(mRoot, mCnc, topic, name, indexText)) {
        mLog("dropped a message on '" + topic + "': not a set topic of this bridge");
        return kDropped;
    }
    std::uint16_t handle = 0, index = 0;
    CData* object = nullptr;
    std::string text;
    tools::InputResult result;
    result.error = CheckSet(name, indexText, payload, payloadSize, handle, object, index, text);
    if (result.error == Daten::Ok) {
        tools::InputRequest request;
        request.handle = object ? Handles::kNoHandle : handle;
        request.object = object;
        request.text = std::move(text);
        request.index = index;
        result = tools::RunInput(mDaten, mSim, request);
    } else {
        result.text = Daten::ErrorText(result.error);
    }
    outbox.PublishResult(ResultTopic(topic), tools::InputResultJson(result));
    std::string sent;
    for (const std::string& line : result.sent) sent += (sent.empty() ? "" : ", ") + line;
    mLog("set " + topic + " (" + std::to_string(payloadSize) + " bytes): " +
         (result.error ? Daten::ErrorText(result.error) : "done") +
         (sent.empty() ? "" : "; sent " + Latin1ToUtf8(sent)));
    return result.error;
}

}  // namespace korvex::bridge
