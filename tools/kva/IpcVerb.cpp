// kva ipc send | publish | listen: poke the machine's IPC network by hand.
//
//   kva ipc listen --id 0xF0000 [--topic 0x300000] [--count N] [--reply TEXT]
//   kva ipc send --to 0xF0000 --msg 0xF0001 [--from 0x50000] [--data TEXT] [--nul] [--wait-reply MS]
//   kva ipc publish --msg 0x300001 [--data TEXT]
#include <atomic>
#include <iostream>
#include <mutex>
#include <vector>

#include "IPCMessage/IPCEndpoint.h"
#include "IPCMessage/IPCMessageClient.h"
#include "IpcText.h"
#include "Verbs.h"
#include "ipc/IPCReply.h"
#include "kva/platform/Process.h"

namespace {

constexpr std::chrono::milliseconds kHubTimeout(5000);

struct CIpcOptions {
    std::string endpoint;
    // send / publish
    std::string to, from = "-1", msg, second = "0", sync = "0", data;
    bool nul = false;
    unsigned waitReplyMs = 0;
    // listen
    std::string id;
    std::vector<std::string> topics;
    int count = 0;
    std::string reply;
    bool replySet = false;
};

std::mutex g_outMutex;

void Say(const std::string& line) {
    std::lock_guard lock(g_outMutex);
    std::cout << line << std::endl;
}

tagIPC_MESSAGE_ITEM BuildItem(const CIpcOptions& o, std::string& payload) {
    payload = o.data;
    if (o.nul) payload.push_back('\0');
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = o.to.empty() ? -1 : kva::ParseId(o.to);
    item.nSenderID = kva::ParseId(o.from);
    item.nMessageID = kva::ParseId(o.msg);
    item.nReplyMessageID = kva::ParseId(o.second);
    item.nSyncMessageId = kva::ParseId(o.sync);
    item.nMessageLen = static_cast<std::int32_t>(payload.size());
    item.pszMessage = payload.empty() ? nullptr : payload.data();
    return item;
}

int Send(const CIpcOptions& o, bool publish) {
    std::string payload;
    tagIPC_MESSAGE_ITEM item = BuildItem(o, payload);
    if (o.waitReplyMs > 0 && !publish) {
        CIPCMessageClient client(item.nSenderID, true, false);
        tagIPC_MESSAGE_ITEM reply;
        if (!client.SendIPCMessage(item, reply, o.waitReplyMs)) {
            std::cerr << "kva ipc: no reply within " << o.waitReplyMs << " ms\n";
            return 1;
        }
        Say("reply " + kva::DescribeItem(reply));
        return 0;
    }
    CIPCMessageClient client(item.nSenderID, false, false);
    const bool ok = publish ? client.PublishIPCMessage(item) : client.PostIPCMessage(item);
    if (!ok) {
        std::cerr << "kva ipc: the message was refused\n";
        return 1;
    }
    Say(std::string(publish ? "published " : "posted ") + kva::DescribeItem(item));
    return 0;
}

int Listen(const CIpcOptions& o) {
    const std::int32_t self = kva::ParseId(o.id);
    CIPCMessageClient client(self, true, false);
    std::atomic<int> seen{0};
    auto show = [&](const char* what, tagIPC_MESSAGE_ITEM& item) {
        Say(what + kva::DescribeItem(item));
        if (o.replySet && item.nReceiverID != -1) {
            std::string text = o.reply;
            tagIPC_MESSAGE_ITEM answer = MakeIPCReply(item, self, text.data(), static_cast<std::int32_t>(text.size()));
            if (!client.PostIPCMessage(answer)) Say("reply refused");
        }
        if (o.count > 0 && ++seen == o.count) plat::RaiseStopSignal();
    };
    client.BindDefaultCallback([&](tagIPC_MESSAGE_ITEM& item) { show("item ", item); });
    client.BindSubscribeCallback([&](tagIPC_MESSAGE_ITEM& item) { show("broadcast ", item); });
    for (const auto& t : o.topics) {
        if (!client.SubscribeIPCMessage(static_cast<std::uint32_t>(kva::ParseId(t)), 0)) {
            std::cerr << "kva ipc: not a topic: " << t << "\n";
            return 1;
        }
    }
    if (!client.WaitForHub(kHubTimeout)) {
        std::cerr << "kva ipc: no hub answers at " << ipcmsg::HubEndpoint() << "\n";
        return 1;
    }
    Say("listening as " + kva::HexId(self) + " at " + ipcmsg::HubEndpoint());
    plat::WaitForStopSignal();
    return 0;
}

// An option that holds an IPC id; text that is not one is refused while the command line is read,
// before the machine is touched.
template <class T>
CLI::Option* AddIdOption(CLI::App* cmd, const std::string& name, T& id, const std::string& description) {
    static const CLI::Validator isId(
        [](std::string& text) {
            try {
                kva::ParseId(text);
                return std::string();
            } catch (const std::exception&) {
                return "not an id: " + text;  // std::stoll's own words name only itself
            }
        },
        "ID");
    return cmd->add_option(name, id, description)->check(isId);
}

}  // namespace

KVA_VERB(ipc) {
    auto o = std::make_shared<CIpcOptions>();
    auto* ipc = app.add_subcommand("ipc", "Send, publish or listen on the machine's IPC network");
    ipc->footer("Example:\n  kva ipc listen --id 0xF0000 --topic 0x300000\n"
                "  kva ipc send --to 0x50000 --from 0x360000 --msg 0x50016 --wait-reply 20000\n");
    ipc->require_subcommand(1);
    ipc->add_option("--endpoint", o->endpoint, "Hub address (default: ipc://<state>/ipc/hub.sock)")->envname("KVA_IPC_ENDPOINT");
    auto prepare = [o, &globals] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        if (!o->endpoint.empty()) ipcmsg::SetHubEndpoint(o->endpoint);
    };
    auto addItemOptions = [o](CLI::App* cmd) {
        AddIdOption(cmd, "--msg", o->msg, "Message id")->required();
        AddIdOption(cmd, "--from", o->from, "Sender endpoint id (default -1)");
        AddIdOption(cmd, "--second", o->second, "Second id (nReplyMessageID, default 0)");
        AddIdOption(cmd, "--sync", o->sync, "nSyncMessageId (default 0)");
        cmd->add_option("--data", o->data, "Payload text");
        cmd->add_flag("--nul", o->nul, "End the payload with a 0 byte (counted in the length)");
    };

    auto* send = ipc->add_subcommand("send", "Post one item to an endpoint, or send it and wait for the reply");
    AddIdOption(send, "--to", o->to, "Receiver endpoint id")->required();
    addItemOptions(send);
    send->add_option("--wait-reply", o->waitReplyMs, "Wait this many ms for the reply (sender must be an id)");
    send->callback([o, prepare] {
        prepare();
        if (const int rc = Send(*o, false); rc != 0) throw CLI::RuntimeError(rc);
    });

    auto* publish = ipc->add_subcommand("publish", "Broadcast one item to the subscribers of its topic");
    addItemOptions(publish);
    publish->callback([o, prepare] {
        prepare();
        if (const int rc = Send(*o, true); rc != 0) throw CLI::RuntimeError(rc);
    });

    auto* listen = ipc->add_subcommand("listen", "Be an endpoint and print what reaches it, until stopped");
    AddIdOption(listen, "--id", o->id, "Own endpoint id")->required();
    AddIdOption(listen, "--topic", o->topics, "Subscribe to this topic (repeatable)");
    listen->add_option("--count", o->count, "Stop after this many items");
    listen->add_option("--reply", o->reply, "Answer every addressed item with this text")
        ->each([o](const std::string&) { o->replySet = true; });
    listen->callback([o, prepare] {
        plat::CatchStopSignals();  // before logging or the client start threads
        prepare();
        if (const int rc = Listen(*o); rc != 0) throw CLI::RuntimeError(rc);
    });
}
