// CKesPluginRegistrar: the plug-ins registered for one host application.
//
// A plug-in of an application is itself an application of the tester. The
// registry records it as a key below the host application's Plugins key:
//
//   ...\Applications\<application>\Plugins\<plug-in>
//   ...\Applications\<plug-in>                  (the plug-in's own key)
//
// and a name counts only when the plug-in's own application key exists.
//
//     CKesPluginRegistrar plugins;
//     if (plugins.Open(OLESTR("Workbench")) == 0 &&
//         plugins.IsPluginRegistered(OLESTR("Capture"))) ...
//
// The list of plug-ins is read from the registry once, at the first
// IsPluginRegistered or ListPluginNames that finds at least one key below
// Plugins, and kept for the registrar's life: later changes to the registry,
// and a Close followed by an Open of another application, do not refresh it.
// While no key is open, or the Plugins key is empty, each call looks again.
//
// Names compare exactly (code unit by code unit): a name that differs from a
// registered one only in letter case is not registered.
//
// Threads: as CKesRegistrar (one thread at a time per object).
#pragma once

#include <host/types.h>
#include <kes/export.h>
#include <kes/registrar/kesregistrar.h>

#include <list>
#include <string>

class KES_API CKesPluginRegistrar : public CKesRegistrar {
  public:
    // As the default CKesRegistrar; the list is empty and not yet filled.
    CKesPluginRegistrar();
    virtual ~CKesPluginRegistrar();

    // Opens "<application>\Plugins" read-only: 0; KES_E_NOT_FOUND (not
    // raised) when the application has no Plugins key; KES_E_INVALID_STATE
    // (raised) with a key already open or no root. The narrow form takes the
    // name in the host's code page.
    LONG Open(const host::wstring& application);
    LONG Open(const std::string& application);

    // CloseKey. The plug-in list stays as it is.
    LONG Close();

    // Whether `name` is in the plug-in list (filled first if need be).
    bool IsPluginRegistered(const host::wstring& name);
    bool IsPluginRegistered(const std::string& name);

    // Empties `names`, then appends the plug-in names in the order found.
    // Always 0.
    LONG ListPluginNames(std::list<host::wstring>& names);
    LONG ListPluginNames(std::list<std::string>& names);

  private:
    // Fills m_pluginList from the open key, unless it is filled already.
    void PopulatePluginList();

    // True once a key below Plugins has been seen.
    bool m_listPopulated;
    // The registered plug-ins, in the registry's order.
    std::list<host::wstring> m_pluginList;
};
