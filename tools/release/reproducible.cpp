// Makes the release's packages the same bytes on every build of a commit,
// where the tools that write them put in the clock, the builder or the order
// of a directory listing. A native program, run on the build machine; every
// time it writes is SOURCE_DATE_EPOCH's.
//
//   reproducible touch EPOCH FILE...      sets each file's modification time
//   reproducible zip EPOCH FILE.zip       rewrites a zip: entries sorted by name,
//                                         each with the epoch's time, mode 644
//                                         (755 for executables and folders), no
//                                         extra fields (times, owner), no comment
//   reproducible msi EPOCH CODE FILE.msi  sets an installer's summary: created and
//                                         saved at the epoch, package code CODE
//
// The compressed data are copied as they are: they depend on the contents
// alone. A file that does not read as expected is left alone and named, with
// exit code 1.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef _WIN32
#include <sys/utime.h>
#define utimbuf _utimbuf
#define utime _utime
#else
#include <utime.h>
#endif

namespace {

using bytes = std::vector<unsigned char>;

bool read_file(const char *path, bytes &out) {
  FILE *f = fopen(path, "rb");
  if (!f) return false;
  unsigned char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// Written beside the file, then put in its place: a failure leaves the old one.
bool replace_file(const char *path, const bytes &data) {
  std::string temp = std::string(path) + ".tmp";
  FILE *f = fopen(temp.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = fclose(f) == 0 && ok;
  remove(path);
  return ok && rename(temp.c_str(), path) == 0;
}

unsigned get16(const bytes &b, size_t at) { return b[at] | (b[at + 1] << 8); }
unsigned long get32(const bytes &b, size_t at) {
  return get16(b, at) | (static_cast<unsigned long>(get16(b, at + 2)) << 16);
}
void put16(bytes &b, unsigned v) {
  b.push_back(v & 0xff);
  b.push_back((v >> 8) & 0xff);
}
void put32(bytes &b, unsigned long v) {
  put16(b, v & 0xffff);
  put16(b, (v >> 16) & 0xffff);
}

bool parse_epoch(const char *text, long long &epoch) {
  char *end = nullptr;
  epoch = strtoll(text, &end, 10);
  return *text && !*end && epoch >= 0;
}

// ---- Zip --------------------------------------------------------------------

struct zip_entry {
  std::string name;
  unsigned made_by, needed, flags, method, internal;
  unsigned long crc, compressed, size, external, data_at;
};

// The epoch as an MS-DOS time and date (UTC, two-second steps, 1980 to 2107).
void dos_time(long long epoch, unsigned &time, unsigned &date) {
  const long long first = 315532800, last = 4354819198LL;  // 1980-01-01, 2107-12-31 23:59:58
  epoch = std::min(std::max(epoch, first), last);
  long long days = epoch / 86400, seconds = epoch % 86400;
  // Days since 1970-01-01 to the civil date (proleptic Gregorian).
  long long z = days + 719468, era = z / 146097, doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  unsigned year = static_cast<unsigned>(yoe + era * 400 + (month <= 2));
  time = static_cast<unsigned>((seconds / 3600) << 11 | (seconds / 60 % 60) << 5 | (seconds % 60) / 2);
  date = (year - 1980) << 9 | month << 5 | day;
}

bool read_zip(const bytes &z, std::vector<zip_entry> &entries, const char *&problem) {
  problem = "no end of central directory";
  if (z.size() < 22) return false;
  size_t end = z.size() - 22, lowest = z.size() > 22 + 65535 ? z.size() - 22 - 65535 : 0;
  while (get32(z, end) != 0x06054b50) {
    if (end == lowest) return false;
    end--;
  }
  unsigned count = get16(z, end + 10);
  unsigned long directory = get32(z, end + 16), directory_size = get32(z, end + 12);
  problem = "a damaged or zip64 central directory";
  if (get16(z, end + 8) != count || directory > end || directory_size > end - directory || count == 0xffff)
    return false;
  size_t at = directory;
  for (unsigned i = 0; i < count; i++) {
    problem = "a damaged central directory entry";
    if (at + 46 > end || get32(z, at) != 0x02014b50) return false;
    zip_entry e;
    e.made_by = get16(z, at + 4);
    e.needed = get16(z, at + 6);
    e.flags = get16(z, at + 8);
    e.method = get16(z, at + 10);
    e.crc = get32(z, at + 16);
    e.compressed = get32(z, at + 20);
    e.size = get32(z, at + 24);
    unsigned name_size = get16(z, at + 28), extra_size = get16(z, at + 30), comment_size = get16(z, at + 32);
    e.internal = get16(z, at + 36);
    e.external = get32(z, at + 38);
    unsigned long local = get32(z, at + 42);
    if (at + 46 + name_size > end || e.compressed == 0xffffffff || e.size == 0xffffffff || local == 0xffffffff)
      return false;
    e.name.assign(reinterpret_cast<const char *>(&z[at + 46]), name_size);
    problem = "a damaged local header";
    if (local + 30 > directory || get32(z, local) != 0x04034b50) return false;
    e.data_at = local + 30 + get16(z, local + 26) + get16(z, local + 28);
    if (e.data_at > directory || e.compressed > directory - e.data_at) return false;
    entries.push_back(e);
    at += 46 + name_size + extra_size + comment_size;
  }
  return true;
}

// The fields a local header and its central directory entry share, in their
// order: version needed, flags, method, time, date, CRC, sizes, name length.
void put_shared_fields(bytes &b, const zip_entry &e, unsigned flags, unsigned time, unsigned date) {
  put16(b, e.needed);
  put16(b, flags);
  put16(b, e.method);
  put16(b, time);
  put16(b, date);
  put32(b, e.crc);
  put32(b, e.compressed);
  put32(b, e.size);
  put16(b, static_cast<unsigned>(e.name.size()));
}

bool fix_zip(long long epoch, bytes &z, const char *&problem) {
  std::vector<zip_entry> entries;
  if (!read_zip(z, entries, problem)) return false;
  std::sort(entries.begin(), entries.end(), [](const zip_entry &a, const zip_entry &b) { return a.name < b.name; });
  unsigned time, date;
  dos_time(epoch, time, date);

  bytes out, directory;
  for (const zip_entry &e : entries) {
    bool folder = !e.name.empty() && e.name.back() == '/';
    bool executable = folder || ((e.made_by >> 8) == 3 && (e.external >> 16) & 0111);
    unsigned long mode = folder ? 040755 : executable ? 0100755 : 0100644;
    // Sizes in the header, so no data descriptor follows the data.
    unsigned flags = e.flags & ~0x0008u;
    size_t local = out.size();
    put32(out, 0x04034b50);
    put_shared_fields(out, e, flags, time, date);
    put16(out, 0);
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), z.begin() + e.data_at, z.begin() + e.data_at + e.compressed);

    put32(directory, 0x02014b50);
    put16(directory, 3u << 8 | (e.made_by & 0xff));  // made on Unix: the mode is in the external attributes
    put_shared_fields(directory, e, flags, time, date);
    put16(directory, 0);
    put16(directory, 0);
    put16(directory, 0);
    put16(directory, e.internal);
    put32(directory, mode << 16 | (folder ? 0x10 : 0));
    put32(directory, static_cast<unsigned long>(local));
    directory.insert(directory.end(), e.name.begin(), e.name.end());
  }
  size_t directory_at = out.size();
  out.insert(out.end(), directory.begin(), directory.end());
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<unsigned>(entries.size()));
  put16(out, static_cast<unsigned>(entries.size()));
  put32(out, static_cast<unsigned long>(directory.size()));
  put32(out, static_cast<unsigned long>(directory_at));
  put16(out, 0);
  z.swap(out);
  return true;
}

// ---- Installer (compound file) -------------------------------------------------

const unsigned long END_OF_CHAIN = 0xfffffffe;

struct compound {
  const bytes &file;
  size_t sector_size = 512;
  std::vector<unsigned long> fat;

  explicit compound(const bytes &f) : file(f) {}

  bool sector_ok(unsigned long s) const { return (s + 1) * sector_size + sector_size <= file.size(); }
  size_t sector_at(unsigned long s) const { return (s + 1) * sector_size; }

  // The sectors of a chain, in order; false for a chain that leaves the file or loops.
  bool chain(unsigned long start, std::vector<unsigned long> &out) const {
    for (unsigned long s = start; s != END_OF_CHAIN; s = fat[s]) {
      if (s >= fat.size() || !sector_ok(s) || out.size() > fat.size()) return false;
      out.push_back(s);
    }
    return true;
  }
};

// The file offset of every byte of the summary information stream.
bool summary_stream(const bytes &f, std::vector<size_t> &where, const char *&problem) {
  static const unsigned char signature[] = {0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1};
  problem = "not a compound file";
  if (f.size() < 512 || memcmp(&f[0], signature, sizeof signature) != 0) return false;
  compound c(f);
  unsigned sector_shift = get16(f, 0x1e), mini_shift = get16(f, 0x20);
  if ((sector_shift != 9 && sector_shift != 12) || mini_shift != 6) return false;
  c.sector_size = size_t(1) << sector_shift;
  const size_t mini_size = 64, per_sector = c.sector_size / 4;

  // The FAT's sectors: 109 named in the header, the rest in the DIFAT chain.
  problem = "a damaged allocation table";
  std::vector<unsigned long> fat_sectors;
  unsigned long fat_count = get32(f, 0x2c), difat = get32(f, 0x44);
  for (size_t i = 0; i < 109 && fat_sectors.size() < fat_count; i++) fat_sectors.push_back(get32(f, 0x4c + 4 * i));
  for (size_t guard = 0; fat_sectors.size() < fat_count; guard++) {
    if (!c.sector_ok(difat) || guard > f.size() / c.sector_size) return false;
    size_t at = c.sector_at(difat);
    for (size_t i = 0; i + 1 < per_sector && fat_sectors.size() < fat_count; i++)
      fat_sectors.push_back(get32(f, at + 4 * i));
    difat = get32(f, at + 4 * (per_sector - 1));
  }
  for (unsigned long s : fat_sectors) {
    if (!c.sector_ok(s)) return false;
    for (size_t i = 0; i < per_sector; i++) c.fat.push_back(get32(f, c.sector_at(s) + 4 * i));
  }

  problem = "a damaged directory";
  std::vector<unsigned long> directory;
  if (!c.chain(get32(f, 0x30), directory)) return false;
  unsigned long root_start = END_OF_CHAIN, start = END_OF_CHAIN, size = 0;
  bool found = false;
  static const char name[] = "\005SummaryInformation";
  for (unsigned long s : directory) {
    for (size_t e = c.sector_at(s); e < c.sector_at(s) + c.sector_size; e += 128) {
      unsigned type = f[e + 0x42], name_bytes = get16(f, e + 0x40);
      if (type == 5) root_start = get32(f, e + 0x74);
      if (type != 2 || name_bytes != 2 * sizeof name) continue;
      bool same = true;
      for (size_t i = 0; i < sizeof name; i++)
        same = same && get16(f, e + 2 * i) == static_cast<unsigned char>(name[i]);
      if (same) {
        found = true;
        start = get32(f, e + 0x74);
        size = get32(f, e + 0x78);
      }
    }
  }
  problem = "no summary information";
  if (!found) return false;

  problem = "a damaged summary information stream";
  if (size >= get32(f, 0x38)) {
    std::vector<unsigned long> sectors;
    if (!c.chain(start, sectors) || sectors.size() * c.sector_size < size) return false;
    for (size_t i = 0; i < size; i++) where.push_back(c.sector_at(sectors[i / c.sector_size]) + i % c.sector_size);
    return true;
  }
  // A small stream lives in the mini stream, itself kept in the root's chain.
  std::vector<unsigned long> mini_fat_sectors, mini_stream;
  if (!c.chain(get32(f, 0x3c), mini_fat_sectors) || !c.chain(root_start, mini_stream)) return false;
  std::vector<unsigned long> mini_fat;
  for (unsigned long s : mini_fat_sectors)
    for (size_t i = 0; i < per_sector; i++) mini_fat.push_back(get32(f, c.sector_at(s) + 4 * i));
  std::vector<unsigned long> minis;
  for (unsigned long m = start; m != END_OF_CHAIN; m = mini_fat[m]) {
    if (m >= mini_fat.size() || minis.size() > mini_fat.size()) return false;
    minis.push_back(m);
  }
  if (minis.size() * mini_size < size) return false;
  for (size_t i = 0; i < size; i++) {
    size_t offset = minis[i / mini_size] * mini_size + i % mini_size;
    if (offset / c.sector_size >= mini_stream.size()) return false;
    where.push_back(c.sector_at(mini_stream[offset / c.sector_size]) + offset % c.sector_size);
  }
  return true;
}

bool fix_msi(long long epoch, const char *code, bytes &f, const char *&problem) {
  std::vector<size_t> where;
  if (!summary_stream(f, where, problem)) return false;
  auto at = [&](size_t i) -> unsigned char & { return f[where[i]]; };
  auto u32 = [&](size_t i) -> unsigned long {
    return at(i) | at(i + 1) << 8 | static_cast<unsigned long>(at(i + 2)) << 16 |
           static_cast<unsigned long>(at(i + 3)) << 24;
  };
  // The property set: FMTID_SummaryInformation's section, then its properties.
  static const unsigned char summary_id[] = {0xe0, 0x85, 0x9f, 0xf2, 0xf9, 0x4f, 0x68, 0x10,
                                             0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9};
  bool ok = where.size() >= 48 && at(0) == 0xfe && at(1) == 0xff && u32(24) >= 1;
  for (size_t i = 0; ok && i < sizeof summary_id; i++) ok = at(28 + i) == summary_id[i];
  unsigned long section = ok ? u32(44) : 0;
  ok = ok && section + 8 <= where.size();
  unsigned long count = ok ? u32(section + 4) : 0;
  ok = ok && section + 8 + 8 * count <= where.size();
  const unsigned long VT_LPSTR = 30, VT_FILETIME = 64, PID_REVNUMBER = 9, PID_CREATE_DTM = 12, PID_LASTSAVE_DTM = 13;
  unsigned long long filetime = (static_cast<unsigned long long>(epoch) + 11644473600ULL) * 10000000ULL;
  int times = 0, revision = 0;
  for (unsigned long i = 0; ok && i < count; i++) {
    unsigned long id = u32(section + 8 + 8 * i), value = section + u32(section + 12 + 8 * i);
    if (value + 12 > where.size()) continue;
    unsigned long type = u32(value);
    if ((id == PID_CREATE_DTM || id == PID_LASTSAVE_DTM) && type == VT_FILETIME) {
      for (int b = 0; b < 8; b++) at(value + 4 + b) = static_cast<unsigned char>(filetime >> (8 * b));
      times++;
    } else if (id == PID_REVNUMBER && type == VT_LPSTR && u32(value + 4) == strlen(code) + 1 &&
               value + 8 + strlen(code) < where.size()) {
      for (size_t b = 0; b <= strlen(code); b++) at(value + 8 + b) = static_cast<unsigned char>(code[b]);
      revision++;
    }
  }
  problem = "its summary lacks the times or a package code of that length";
  return times == 2 && revision == 1;
}

// Reads a file, has `fix` change its bytes and puts them in its place; a
// file `fix` refuses stays as it was.
template <typename Fix>
int rewrite(const char *path, const char *kind, Fix fix) {
  bytes data;
  if (!read_file(path, data)) {
    fprintf(stderr, "reproducible: cannot read %s\n", path);
    return 1;
  }
  const char *problem = "";
  if (!fix(data, problem)) {
    fprintf(stderr, "reproducible: %s is not %s this program fixes: %s\n", path, kind, problem);
    return 1;
  }
  if (!replace_file(path, data)) {
    fprintf(stderr, "reproducible: cannot write %s\n", path);
    return 1;
  }
  return 0;
}

int touch(long long epoch, int count, char **paths) {
  for (int i = 0; i < count; i++) {
    struct utimbuf times = {static_cast<time_t>(epoch), static_cast<time_t>(epoch)};
    if (utime(paths[i], &times) != 0) {
      fprintf(stderr, "reproducible: cannot set the time of %s\n", paths[i]);
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  long long epoch = 0;
  if (argc >= 3 && !parse_epoch(argv[2], epoch)) {
    fprintf(stderr, "reproducible: the epoch is whole seconds since 1970, not \"%s\"\n", argv[2]);
    return 2;
  }
  if (argc >= 3 && strcmp(argv[1], "touch") == 0) return touch(epoch, argc - 3, argv + 3);
  if (argc == 4 && strcmp(argv[1], "zip") == 0)
    return rewrite(argv[3], "a zip", [&](bytes &b, const char *&problem) { return fix_zip(epoch, b, problem); });
  if (argc == 5 && strcmp(argv[1], "msi") == 0)
    return rewrite(argv[4], "an installer",
                   [&](bytes &b, const char *&problem) { return fix_msi(epoch, argv[3], b, problem); });
  fprintf(stderr,
          "usage: reproducible touch EPOCH FILE...\n"
          "       reproducible zip EPOCH FILE.zip\n"
          "       reproducible msi EPOCH PACKAGE_CODE FILE.msi\n");
  return 2;
}
