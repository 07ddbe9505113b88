#pragma once

// A telescope on a scripted port that answers each command from a table:
// the set-up the tests of the link, the network server and the pages share.

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/port_owner.h"
#include "support/fake_clock.h"
#include "support/fake_ui.h"
#include "support/scripted_port.h"

namespace tarvi::test {

using Strings = std::vector<std::string>;

inline Bytes bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

// The traffic of several steps one after the other.
inline Strings joined(std::initializer_list<Strings> parts)
{
    Strings out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct ScriptedTelescope {
    FakeUi ui;
    FakeClock clock;
    PortTable ports;
    int lineHandle = PortTable::closed;
    PortOwner line{ui, ports, lineHandle};
    // Jobs of the line kept back, as while the telescope works at something
    // else; run in order by runHeld.
    std::vector<std::function<void()>> held;
    void holdJobs()
    {
        line.runner = [this](std::function<void()> job, std::function<void()> ended) {
            held.push_back([job = std::move(job), ended = std::move(ended)] {
                job();
                ended();
            });
        };
    }
    void runHeld()
    {
        line.runner = nullptr;
        for (auto& job : std::exchange(held, {}))
            job();
    }
    std::shared_ptr<PortScript> script = std::make_shared<PortScript>();
    // Each command's answer, in the bursts it arrives in; others get nothing.
    std::map<std::string, Strings> replies;

    ScriptedTelescope()
    {
        script->device = [this](const Bytes& written) {
            const auto reply = replies.find(std::string(written.begin(), written.end()));
            if (reply != replies.end()) {
                for (const std::string& burst : reply->second)
                    script->arrive(bytesOf(burst));
            }
        };
    }
    int addPort() { return ports.add(std::make_unique<ScriptedPort>(script)); }
    Strings sent() const
    {
        Strings out;
        for (const Bytes& written : script->writes)
            out.emplace_back(written.begin(), written.end());
        return out;
    }
    // Forgets the traffic, the boxes and the waits so far.
    void forget()
    {
        script->writes.clear();
        script->arrivals.clear();
        script->readSizes.clear();
        ui.boxes.clear();
        clock.clearSleeps();
    }
};

}  // namespace tarvi::test
