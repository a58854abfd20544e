// The module's own logic: scheduler, intake, database, scan, recovery, settings, log.
#pragma once

#include <cstdint>

// One fingerprint: the in-memory record and the record of Quarrow.db.
struct RecDBEntry {
  uint64_t RecInode;
  uint32_t RecSample;
  uint32_t Padding1;
  uint64_t InfInode;
  uint32_t InfSample;
  uint32_t Padding2;
  uint64_t NavInode;
  uint32_t NavSample;
  uint32_t Padding3;
  char RecName[128];
};
static_assert(sizeof(RecDBEntry) == 176, "database record is 176 bytes");
static_assert(__builtin_offsetof(RecDBEntry, InfInode) == 16, "InfInode at 16");
static_assert(__builtin_offsetof(RecDBEntry, NavInode) == 32, "NavInode at 32");
static_assert(__builtin_offsetof(RecDBEntry, RecName) == 48, "RecName at 48");

// Recording database, owned by the database code. RecDB: the first block of entries from
// the host allocator (null when none); a loaded database is one block of RecDBSize, entries
// added since may lie in further blocks (RecDB_At). The first RecDBEntries are in use;
// RecDB_Destroy releases all.
// RecDBVersion: the version word of the last file header read or written.
extern RecDBEntry *RecDB;
extern int32_t RecDBSize;
extern int32_t RecDBEntries;
extern uint32_t RecDBVersion;

// Creates /ProgramFiles/Settings/Zorvane where it is missing; results are not looked at.
// Leaves the current folder at /ProgramFiles/Settings when it could enter it.
void RecDB_CreateDir();
// Reads Quarrow.db of the settings folder into RecDB (expects none held: without a file it
// can open it leaves RecDB as it was). A damaged file gives its sound records, one of
// another version none (both logged, both kept aside by the next save); a file that cannot
// be read (logged) leaves RecDB empty and refuses saves until the next load or
// RecDB_Destroy. Restores the current folder.
void RecDB_Load();
// Writes RecDB whole (header, RecDBSize records) to Quarrow.db by the safe replace.
// Nothing when RecDB is null; refused after a load that could not read the file; a damaged
// file is kept as Quarrow.db.bad, .bad2, ... Failures are logged. Restores the current folder.
void RecDB_Save();
// Releases RecDB and forgets what the last load found.
void RecDB_Destroy();
// Copies `entry` in (name cut to 127 bytes; logged), or updates the entry of its identity
// (the recording's inode and sample); a companion without inode keeps its stored fingerprint.
// 1 when the database changed; 0 when nothing changed, for null, or without memory (logged).
int RecDB_Add(const RecDBEntry *entry);
// True after a load that read a database file (what it held that was usable is in
// memory); false when no file was found or it could not be read: then a file that
// matches nothing may still have a fingerprint.
bool RecDB_Usable();
// The entry with this identity, or null. Points into RecDB: valid until the next add,
// load or destroy.
const RecDBEntry *RecDB_Find(uint64_t inode, uint32_t sample);
// Entry i (0 <= i < RecDBSize), or null. A loaded database is the array RecDB; entries
// added since may lie in further blocks.
RecDBEntry *RecDB_At(int32_t i);
// How many entries in use lie in RecDB itself (all of them after a load).
int32_t RecDB_Contiguous();

// Settings and program log. InformUser: 1 while the user is still to be told of a
// recovery. LogString: scratch buffer for composing one log line; holds nothing between calls.
extern int32_t InformUser;
extern char LogString[512];
// RestoreFolders: 1 when Quarrow.ini asks for recovered recordings to go back into their
// folders (the user sets it; read by Settings_Read, 0 when absent, never written); -1 when
// the settings could not be read: a recovery then keeps the files whose folder it knows
// for a later start rather than guess.
extern int32_t RestoreFolders;

// Sets InformUser from Quarrow.ini (1 when the key is missing or not a number); the INI
// store falls back to /ProgramFiles/Settings/Quarrow, /ProgramFiles/Settings, /ProgramFiles.
// No file: 0, and a new file is written. A file that is there but cannot be read: 1
// (logged), nothing written. Folder out of reach: 0. RestoreFolders likewise (default 0;
// -1 when the file or the folder cannot be read). Leaves the current folder there.
void Settings_Read();
// Stores InformUser in Quarrow.ini, keeping the file's other lines. Writes nothing when the
// folder is out of reach (silently) or the file cannot be read whole (logged); a failed
// save is not reported. Leaves the current folder at the settings folder.
void Settings_Write();
// Appends a time-stamped line to Quarrow.log in the settings folder and echoes it to the
// terminal; only the echo when the current folder cannot be saved or the folder entered.
// Restores the current folder; failures are not reported.
void WriteLog(const char *text);

// DataFiles scan: fingerprints every recording (.rec/.mpg) under /DataFiles into RecDB,
// the whole tree on the internal disk on the first call after a load, /DataFiles alone
// afterwards, at most 1001 folders. Non-zero when RecDB changed. A file that cannot be
// read is logged and skipped. Leaves the current folder at the last folder entered.
int CrossCheckDataFilesWithDB();

// Quarrow intake. isNewLostAndFound: 1 (logged with the count) when /mnt/hd/Quarrow holds
// any entry, dot names included; 0 when it is empty or cannot be opened.
int isNewLostAndFound();
// Lists every new entry of /mnt/hd/Quarrow in the recovery list (dot names stay where they
// are), saves it, then moves each listed entry into /DataFiles/Zorvane under its listed name
// (creating the folder). 0 when every listed entry has moved; -1 when one stays or nothing
// could be moved (logged).
int MoveAllLostAndFoundFiles();

// Recovery matching: gives each listed file in /DataFiles/Zorvane that RecDB knows its
// name back and saves the list of those left to retry. 1 when any file was renamed, else 0
// (also when the folder or the list cannot be read). Leaves the current folder at
// /DataFiles/Zorvane when it could enter it.
int CrossCheckLostAndFoundWithDB();

// Scheduler deadlines in ticks (10 ms), owned by the entry points. NextLFCheck: the one
// intake check; NextDataFilesCheck: the next scan; MessageTimeout: when the message box
// closes by itself (0: not shown).
extern uint32_t NextLFCheck;
extern uint32_t NextDataFilesCheck;
extern uint32_t MessageTimeout;
