// Saves the current folder on the folder stack and returns to it on every way out.
#pragma once

#include "lib/hdd/hdd.h"

class SavedDir {
 public:
  SavedDir() : pushed_(HDD_TAP_PushDir()) {}
  ~SavedDir() { Restore(); }
  SavedDir(const SavedDir &) = delete;
  SavedDir &operator=(const SavedDir &) = delete;

  // False when the folder could not be saved; then nothing is popped either, so that
  // another operation's saved folder stays on the stack.
  bool saved() const { return pushed_; }

  void Restore() {
    if (pushed_) HDD_TAP_PopDir();
    pushed_ = false;
  }

 private:
  bool pushed_;
};
