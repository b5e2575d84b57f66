// kva machine reg list [KEY] | get KEY NAME | set KEY NAME VALUE | delete KEY [NAME]: any registry
// value of the simulated machine, with its Windows type.
#include <iostream>
#include <memory>

#include "RegistryText.h"
#include "Verbs.h"
#include "kva/platform/Text.h"

namespace {

struct CRegArgs {
    std::string key;
    std::string name;
    std::string value;
    std::string type = "REG_SZ";
    bool isVolatile = false;
    bool hasName = false;
};

kva::CRegPath PathOrFail(const std::string& verb, const std::string& text) {
    auto path = kva::ParseRegPath(text);
    if (!path) {
        std::cerr << "kva machine reg " << verb << ": \"" << text
                  << "\" is not a registry key; start it with HKLM\\ or HKU\\\n";
        throw CLI::RuntimeError(2);
    }
    return *path;
}

[[noreturn]] void Fail(const std::string& verb, const std::string& what, plat::LONG code) {
    std::cerr << "kva machine reg " << verb << ": " << what << ": "
              << (code == plat::kErrorFileNotFound ? "not found" : "failed") << " (Windows code " << code << ")\n";
    throw CLI::RuntimeError(1);
}

void List(const std::string& prefix) {
    std::string want;
    if (!prefix.empty()) {
        const kva::CRegPath p = PathOrFail("list", prefix);
        want = p.root == plat::kHKeyLocalMachine ? "hkey_local_machine" : "hkey_users";
        if (!p.subKey.empty()) want += "\\" + plat::AsciiLower(plat::ToUtf8(p.subKey));
    }
    for (const auto& key : plat::RegDumpAll()) {
        const std::string lower = plat::AsciiLower(plat::ToUtf8(key.path));
        if (!want.empty() && lower.compare(0, want.size(), want) != 0) continue;
        if (!want.empty() && lower.size() > want.size() && lower[want.size()] != '\\') continue;
        std::cout << "[" << plat::ToUtf8(key.path) << "]" << (key.isVolatile ? " (volatile)" : "") << "\n";
        for (const auto& v : key.values) std::cout << "  " << kva::FormatRegValue(v) << "\n";
    }
}

void Get(const CRegArgs& a) {
    const kva::CRegPath p = PathOrFail("get", a.key);
    plat::HKEY key = 0;
    plat::LONG rc = plat::RegOpenKey(p.root, p.subKey, plat::kKeyRead, &key);
    if (rc != plat::kErrorSuccess) Fail("get", a.key, rc);
    plat::RegValue v;
    v.name = plat::FromUtf8(a.name);
    rc = plat::RegGetDword(key, v.name, &v.dword);
    v.isDword = rc == plat::kErrorSuccess;
    if (rc == plat::kErrorUnsupportedType) rc = plat::RegGetString(key, v.name, &v.text);
    plat::RegCloseKey(key);
    if (rc != plat::kErrorSuccess) Fail("get", a.key + "\\" + a.name, rc);
    std::cout << kva::FormatRegValue(v) << "\n";
}

void Set(const CRegArgs& a) {
    const kva::CRegPath p = PathOrFail("set", a.key);
    const std::string type = plat::AsciiLower(a.type);
    unsigned long dword = 0;
    if (type == "reg_dword" || type == "dword") {
        try {
            std::size_t used = 0;
            dword = std::stoul(a.value, &used, 0);
            if (used != a.value.size() || dword > 0xFFFFFFFFul) throw std::out_of_range("dword");
        } catch (const std::exception&) {
            std::cerr << "kva machine reg set: \"" << a.value << "\" is not a 32-bit number for REG_DWORD\n";
            throw CLI::RuntimeError(2);
        }
    } else if (type != "reg_sz" && type != "sz") {
        std::cerr << "kva machine reg set: type " << a.type << " is not REG_DWORD or REG_SZ\n";
        throw CLI::RuntimeError(2);
    }
    plat::HKEY key = 0;
    plat::LONG rc = plat::RegCreateKey(p.root, p.subKey,
                                       a.isVolatile ? plat::kRegOptionVolatile : plat::kRegOptionNonVolatile,
                                       plat::kKeyAllAccess, &key);
    if (rc != plat::kErrorSuccess) Fail("set", a.key, rc);
    const std::wstring name = plat::FromUtf8(a.name);
    rc = type == "reg_sz" || type == "sz" ? plat::RegSetString(key, name, plat::FromUtf8(a.value))
                                          : plat::RegSetDword(key, name, static_cast<plat::DWORD>(dword));
    plat::RegCloseKey(key);
    if (rc != plat::kErrorSuccess) Fail("set", a.key + "\\" + a.name, rc);
    std::cout << kva::FormatRegPath(p) << "\\" << a.name << " = " << a.value << "\n";
}

void Delete(const CRegArgs& a) {
    const kva::CRegPath p = PathOrFail("delete", a.key);
    if (!a.hasName) {
        if (p.subKey.empty()) {
            std::cerr << "kva machine reg delete: refusing to delete a whole hive\n";
            throw CLI::RuntimeError(2);
        }
        const plat::LONG rc = plat::RegDeleteTree(p.root, p.subKey);
        if (rc != plat::kErrorSuccess) Fail("delete", a.key, rc);
        std::cout << "deleted " << kva::FormatRegPath(p) << "\n";
        return;
    }
    plat::HKEY key = 0;
    plat::LONG rc = plat::RegOpenKey(p.root, p.subKey, plat::kKeyAllAccess, &key);
    if (rc != plat::kErrorSuccess) Fail("delete", a.key, rc);
    rc = plat::RegDeleteValue(key, plat::FromUtf8(a.name));
    plat::RegCloseKey(key);
    if (rc != plat::kErrorSuccess) Fail("delete", a.key + "\\" + a.name, rc);
    std::cout << "deleted " << kva::FormatRegPath(p) << "\\" << a.name << "\n";
}

}  // namespace

// Registered after `machine` (verbs are set up in name order), as its subcommand.
KVA_VERB(machine_reg) {
    CLI::App* machine = app.get_subcommand("machine");
    auto* reg = machine->add_subcommand("reg", "Read and change any registry value of the simulated machine");
    reg->require_subcommand(1);
    reg->footer("Example:\n  kva machine reg set 'HKLM\\SOFTWARE\\Vantor\\Inventory\\15' Version 22.0.0.1\n"
                "  kva machine reg get 'HKLM\\SOFTWARE\\Vantor\\Inventory\\15' Version\n");
    auto args = std::make_shared<CRegArgs>();
    auto prepare = [&globals] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
    };

    auto* list = reg->add_subcommand("list", "Every key under KEY (all keys without it) with its values");
    list->add_option("key", args->key, "HKLM\\... or HKU\\...");
    list->callback([=] {
        prepare();
        List(args->key);
    });

    auto* get = reg->add_subcommand("get", "One value with its type");
    get->add_option("key", args->key)->required();
    get->add_option("name", args->name, "Value name; \"\" for the default value")->required();
    get->callback([=] {
        prepare();
        Get(*args);
    });

    auto* set = reg->add_subcommand("set", "Write a value, creating the key");
    set->add_option("key", args->key)->required();
    set->add_option("name", args->name)->required();
    set->add_option("value", args->value)->required();
    set->add_option("-t,--type", args->type, "REG_SZ (default) or REG_DWORD");
    set->add_flag("--volatile", args->isVolatile, "Create missing keys volatile (gone at the next reboot)");
    set->callback([=] {
        prepare();
        Set(*args);
    });

    auto* del = reg->add_subcommand("delete", "Delete a value, or KEY and everything below it");
    del->add_option("key", args->key)->required();
    auto* name = del->add_option("name", args->name);
    del->callback([=] {
        args->hasName = name->count() > 0;
        prepare();
        Delete(*args);
    });
}
