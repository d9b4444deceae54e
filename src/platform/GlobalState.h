#pragma once
// The program's mutable unit-level state (settings, key definitions, the command line, the skin
// pictures, installed handlers) in one list, so that it can be set aside and put back whole. Each
// unit that keeps such state registers it beside its definition; the test programs save it before
// every test and put it back after (tests/support/GlobalStateListener.cpp), so no test depends on
// what an earlier one changed. The program itself only registers.
#include <functional>

namespace melo {

// Puts one piece of state back as it was when it was saved.
using TGlobalRestore = std::function<void()>;
// Saves one piece of state and returns what puts it back.
using TGlobalSave = std::function<TGlobalRestore()>;

// Adds a piece of state to the list. Returns true, so that it can initialise a namespace-scope
// constant beside the state's definition (registration happens while statics are initialised).
bool RegisterGlobalState(TGlobalSave save);

// A variable that is the whole state: saved by copy, put back by assignment.
template <class T> bool RegisterGlobalVariable(T& variable) {
  return RegisterGlobalState(
      [&variable] { return TGlobalRestore([&variable, saved = variable] { variable = saved; }); });
}

template <class... T> bool RegisterGlobalVariables(T&... variables) {
  (RegisterGlobalVariable(variables), ...);
  return true;
}

// Saves every registered piece; the returned call puts them all back, the last registered first.
// UI thread only, with no other thread touching the state.
TGlobalRestore SaveGlobalState();

} // namespace melo
