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

// Recording database (owned by the database code).
extern RecDBEntry *RecDB;
extern int32_t RecDBSize;
extern int32_t RecDBEntries;
extern uint32_t RecDBVersion;

void RecDB_CreateDir();
void RecDB_Load();
void RecDB_Save();
void RecDB_Destroy();
int RecDB_Add(const RecDBEntry *entry);
// True after a load that read a database file (what it held that was usable is in
// memory); false when no file was found or it could not be read: then a file that
// matches nothing may still have a fingerprint.
bool RecDB_Usable();
// The entry with this identity, or null.
const RecDBEntry *RecDB_Find(uint64_t inode, uint32_t sample);
// Entry i (0 <= i < RecDBSize), or null. A loaded database is the array RecDB; entries
// added since may lie in further blocks.
RecDBEntry *RecDB_At(int32_t i);
// How many entries in use lie in RecDB itself (all of them after a load).
int32_t RecDB_Contiguous();

// Settings and program log.
extern int32_t InformUser;
extern char LogString[512];

void Settings_Read();
void Settings_Write();
void WriteLog(const char *text);

// DataFiles scan.
int CrossCheckDataFilesWithDB();

// Quarrow intake.
int isNewLostAndFound();
int MoveAllLostAndFoundFiles();

// Recovery matching.
int CrossCheckLostAndFoundWithDB();

// Scheduler.
extern uint32_t NextLFCheck;
extern uint32_t NextDataFilesCheck;
extern uint32_t MessageTimeout;
