// Access rights and share modes of open files, as Windows checks them between the opens of one
// file (shared by the in-memory drives and the files on volumes).
#pragma once

#include "platform/PlatformTypes.h"

namespace plat::sim {

// The data rights an access mask grants; only these take part in share checks.
struct Rights {
  bool read = false, write = false, append = false, del = false;
  bool Data() const { return read || write || append || del; }
  bool AnyWrite() const { return write || append; }
};

// What one open of a file asked for.
struct SimOpenShare {
  Rights rights;
  DWORD share = 0;
};

inline Rights RightsOf(DWORD access) {
  Rights r;
  r.read = access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
  r.write = access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA);
  r.append = access & (GENERIC_WRITE | GENERIC_ALL | FILE_APPEND_DATA);
  r.del = access & (GENERIC_ALL | DELETE);
  return r;
}

// Windows checks both ways: the new open must fit the existing open's share mode, and the
// existing open's rights must fit the new share mode. Opens without data rights take no part.
inline bool SharesClash(Rights r, DWORD share, Rights open, DWORD openShare) {
  if (!r.Data() || !open.Data()) return false;
  return (r.read && !(openShare & FILE_SHARE_READ)) || (r.AnyWrite() && !(openShare & FILE_SHARE_WRITE)) ||
         (r.del && !(openShare & FILE_SHARE_DELETE)) || (open.read && !(share & FILE_SHARE_READ)) ||
         (open.AnyWrite() && !(share & FILE_SHARE_WRITE)) || (open.del && !(share & FILE_SHARE_DELETE));
}

}  // namespace plat::sim
