// The bridge's value path: which values are published, reading them,
// deciding what changed, and carrying out sets from the broker through the
// command interpreter. It runs on the thread that owns the Daten and never
// touches the network: messages leave through an Outbox.
#ifndef KORVEX_TOOLS_BRIDGE_VALUE_WATCH_H_
#define KORVEX_TOOLS_BRIDGE_VALUE_WATCH_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "korvex/host/sim_driver.h"
#include "tools/bridge/bridge_format.h"

class CData;
class Daten;

namespace korvex::bridge {

// Where the value path hands its messages; must not block.
class Outbox {
public:
    virtual ~Outbox() = default;
    // A retained value: only its latest payload per topic matters.
    virtual void PublishValue(const std::string& topic, const std::string& payload) = 0;
    // An answer to a set: every one counts.
    virtual void PublishResult(const std::string& topic, const std::string& payload) = 0;
};

using LogSink = std::function<void(const std::string& line)>;

// The longest operator text a set may carry: a command line's length.
constexpr std::size_t kMaxSetText = 255;

class ValueWatch {
public:
    // root: the topic root; cnc: the CNC the bridge serves; sim: the
    // controller daten drives, whose writes a set's result names.
    ValueWatch(Daten& daten, host::SimDriver& sim, std::string root, unsigned cnc,
               std::vector<std::string> publish, std::vector<std::string> writable, LogSink log);

    // Builds the list of published values: every element of every handle
    // that has a definition, and of every data object registered without a
    // number, whose name matches a publish pattern. Answers the number of
    // values.
    std::size_t Collect();
    std::size_t Values() const { return mItems.size(); }

    // Patterns of --publish and --writable that matched no name at the last
    // Collect, as "--publish PATTERN".
    const std::vector<std::string>& Unmatched() const { return mUnmatched; }

    // Asks the controller for the size of every published table again; a
    // table that grew publishes its new elements at the next pass, one that
    // shrank clears the retained messages of the elements it lost. A table
    // whose size cannot be read keeps its elements. Answers the number of
    // tables whose size changed.
    std::size_t FollowTableSizes(Outbox& outbox);

    // Reads every value once and hands the changed ones to the outbox.
    // Answers the number of values published.
    std::size_t Pass(Outbox& outbox);

    // One message from the broker on a set topic; payloadSize is the size
    // the message had (its payload may have been left out when too long).
    // Publishes the result and answers its code; a message that is no set
    // of this bridge is dropped with a log line (answers 0xFF).
    std::uint8_t Set(const std::string& topic, const std::string& payload, std::size_t payloadSize,
                     Outbox& outbox);

    static constexpr std::uint8_t kDropped = 0xFF;

    // The number of elements the bridge takes a handle to have: the table
    // size, or one per bit of a bit mask.
    static unsigned Elements(Daten& daten, std::uint16_t handle);
    // Reads one value as `get` shows it; answers the library's code.
    static std::uint8_t Read(Daten& daten, std::uint16_t handle, std::uint16_t index,
                             Reading& reading);
    // The same for a data object that has no handle number.
    static std::uint8_t Read(CData& object, std::uint16_t index, Reading& reading);

private:
    struct Item {
        std::uint16_t handle = 0;
        std::uint16_t index = 0;
        std::uint32_t name = 0;     // into mNames and mGroups
        CData* object = nullptr;    // an object without a number (handle unused)
        bool known = false;  // last is what subscribers have
        std::string topic;
        Reading last;
    };
    // One published name: its elements are consecutive items.
    struct Group {
        std::uint16_t handle = 0;
        CData* object = nullptr;
        unsigned elements = 0;
    };
    // The table size as the controller answers it now; 0 when it cannot tell.
    unsigned TableSize(const Group& group);
    Item NewItem(std::uint32_t group, unsigned index) const;

    std::uint8_t CheckSet(const std::string& name, const std::string& indexText,
                          const std::string& payload, std::size_t payloadSize,
                          std::uint16_t& handle, CData*& object, std::uint16_t& index,
                          std::string& text);

    Daten& mDaten;
    host::SimDriver& mSim;
    std::string mRoot;
    unsigned mCnc;
    std::vector<std::string> mPublish;
    std::vector<std::string> mWritable;
    LogSink mLog;
    std::vector<std::string> mNames;  // one per group, as the groups
    std::vector<Group> mGroups;
    std::vector<Item> mItems;
    std::vector<std::string> mUnmatched;
    std::size_t mFailedReads = 0;
};

}  // namespace korvex::bridge

#endif  // KORVEX_TOOLS_BRIDGE_VALUE_WATCH_H_
