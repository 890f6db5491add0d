// English: the reference table. Every other language keeps its ids, its
// placeholders and its line breaks (only 188 and 191 are laid out freely).
#include <iterator>

#include "core/uLang.h"
#include "core/uLangTables.h"

// clang-format off
const char* const kLangTextEn[] = {
  "TRIM Execute",  // 0
  "Drive Inspect",  // 1
  "Real Test",  // 2
  "Disk Selection",  // 3
  "Execution Options",  // 4
  "Advanced Settings",  // 5
  "Status / Log",  // 6
  "TRIM Real Test Control",  // 7
  "Refresh",  // 8
  "USB Info",  // 9
  "Start",  // 10
  "Cancel",  // 11
  "Clear Log",  // 12
  "Start TRIM Real Test",  // 13
  "Stop",  // 14
  "Verify Only",  // 15
  "Delete Test Folder",  // 16
  "Export File Map CSV",  // 17
  "Clear Log",  // 18
  "Inspect",  // 19
  "Export Free Sector List",  // 20
  "Execution Mode",  // 21
  "Full TRIM (Entire device range)",  // 22
  "Free-space TRIM only",  // 23
  "Dry-run (verify only, no send)",  // 24
  "Show Advanced Options",  // 25
  "FS policy: -",  // 26
  "Init after TRIM:",  // 27
  "Do not initialize",  // 28
  "Timeout (ms)",  // 29
  "Retry",  // 30
  "Batch entries",  // 31
  "Batch run limit",  // 32
  "Allow system disk (DANGER)",  // 33
  "Mask serial in log",  // 34
  "Flush volumes before TRIM",  // 35
  "Status: Idle",  // 36
  "Status: Running",  // 37
  "Start Step",  // 38
  "End Step",  // 39
  "Speed drop wait (min, 0=off)",  // 40
  "Select target USB disk for TRIM. BOT and UASP protocols supported.",  // 41
  "Rescan USB disk list.",  // 42
  "Show BOT/UAS protocol description and TRIM compatibility info.",  // 43
  "Full TRIM: entire disk (no volumes).|Free-space: only unused areas of mounted volumes.",  // 44
  "When checked, verifies CDB/ranges without sending actual TRIM.",  // 45
  "Show Timeout, Retry, Batch and other advanced settings.",  // 46
  "Initialize disk as GPT/MBR after Full TRIM, or skip.",  // 47
  "Selected disk details: model, serial, capacity, volumes, free space.",  // 48
  "SCSI PASS-THROUGH command timeout (milliseconds). Default 5,000ms.",  // 49
  "Retry count on TRIM send failure. 0 = no retry.",  // 50
  "TRIM entries per SCSI command. Default 32.",  // 51
  "Maximum batches to execute. Limit to 1/10/100 for testing.",  // 52
  "Allow system/boot disk as TRIM target. Very dangerous!",  // 53
  "Partially mask disk serial numbers in logs.",  // 54
  "FlushFileBuffers on each volume before TRIM.",  // 55
  "Execute TRIM on selected disk. Two-step confirmation required.",  // 56
  "Cancel running TRIM operation.",  // 57
  "Clear all content from the log window.",  // 58
  "Shows TRIM operation progress.",  // 59
  "Shows current TRIM operation status.",  // 60
  "Detailed TRIM execution log. Also saved to file automatically.",  // 61
  "Send ATA TRIM commands to USB-SATA disks.",  // 62
  "Inspect disk partition structure, capacity, and free space.",  // 63
  "Test SSD TRIM via write/delete/TRIM/verify cycle.",  // 64
  "Test SSD TRIM via write/delete/TRIM/verify sequence.",  // 65
  "Safely stop the running real test.",  // 66
  "Verify 500MB file data integrity only (no write/delete).",  // 67
  "Completely delete trim_real_test folder and all files inside.",  // 68
  "Start step. 1=Create files, 2=Delete+TRIM, 3=Fill 1GB, 4=Verify 500MB, 5=Verify 1GB.",  // 69
  "End step. Must be >= start step.",  // 70
  "Current real test progress status.",  // 71
  "Real-time read/write speed (MB/s) based on 2-second window.",  // 72
  "Total elapsed time since test start.",  // 73
  "Elapsed time for the current step/section.",  // 74
  "Save file names, start/end sectors, and sizes from trim_real_test to CSV.",  // 75
  "Clear log and re-display guide message.",  // 76
  "Wait time (min) when write speed drops below 50% of avg. 0=disabled.",  // 77
  "Real test progress log. Status and results for each step.",  // 78
  "Inspect partition, capacity, and free space for the selected disk.",  // 79
  "Save free space LBA ranges for each volume to CSV.",  // 80
  "Disk total/free/used space summary and last free block start LBA.",  // 81
  "Per-partition type, sectors, physical start sector, cluster size, etc.",  // 82
  "Error",  // 83
  "Warning",  // 84
  "Info",  // 85
  "Confirm",  // 86
  "Mismatch",  // 87
  "Running",  // 88
  "Admin Required",  // 89
  "Restriction",  // 90
  "Mode Restriction",  // 91
  "Policy Blocked",  // 92
  "Pre-verification Failed",  // 93
  "Plan Generation Failed",  // 94
  "Initialization Complete",  // 95
  "Initialization Failed",  // 96
  "Please select a disk.",  // 97
  "Already running.",  // 98
  "Administrator privileges are required.",  // 99
  // 100
  "This disk has one or more volumes (mounted partitions), so full-device TRIM is not available. "
  "To use full TRIM, delete all volumes on this disk in Disk Management (or similar), then try again. "
  "Until then, use free-space TRIM only.",
  "Please stop any write operations on the target drive during TRIM.",  // 101
  "Entered disk number does not match the target PD number. Operation aborted.",  // 102
  "Enter the disk number (number after PD): ",  // 103
  "Please select a disk to inspect first.",  // 104
  "No mounted drive letter found.",  // 105
  "Folder does not exist: ",  // 106
  "No volume information available.",  // 107
  "Start step is greater than end step.",  // 108
  "Completely delete trim_real_test folder. Continue?",  // 109
  "Folder deleted: ",  // 110
  "Folder deletion failed: ",  // 111
  "Running verification only. Target: ",  // 112
  "Test is currently running.",  // 113
  "Disk initialized as GPT after TRIM.",  // 114
  "Disk initialized as MBR after TRIM.",  // 115
  "Disk initialization failed.",  // 116
  "File map CSV saved",  // 117
  "Preparing",  // 118
  "Done",  // 119
  "Verifying",  // 120
  "Verify-only mode: scanning existing files",  // 121
  "Scan complete: %d files",  // 122
  "No files to verify. Check the trim_real_test folder.",  // 123
  "500MB file integrity verification started",  // 124
  "Verification complete: Success",  // 125
  "Verification complete: Failures found",  // 126
  "STEP1: Filling 1/3 of free space with 500MB files",  // 127
  "STEP1 complete",  // 128
  "STEP2: Delete every 10th file, Flush/CSV/TRIM",  // 129
  "STEP2 complete",  // 130
  "STEP3: Filling ~%s bytes with 1GB files (leaving 1GB free)",  // 131
  "STEP3 complete",  // 132
  "STEP4: 500MB file integrity verification started",  // 133
  "STEP4 complete: Verification passed",  // 134
  "STEP4 complete: Verification failures found",  // 135
  "Total elapsed time: ",  // 136
  "TRIM failed or warning, check the log.",  // 137
  "Capacity query failed, aborting.",  // 138
  "Failed to create test folder: ",  // 139
  "File creation failed: ",  // 140
  "Write failed: ",  // 141
  "Speed drop detected: 2s=%.1f / avg=%.1f MB/s, waiting %d min",  // 142
  "Free space CSV saved: ",  // 143
  "Existing 1GB files detected: last index=%d, next=%d",  // 144
  "Verification failed: file missing - ",  // 145
  "Verification failed: CRC mismatch - ",  // 146
  "CSV write failed",  // 147
  "Flush successful: ",  // 148
  "Flush failed: ",  // 149
  "Starting TRIM real test. Target volume: ",  // 150
  "CSV created: ",  // 151
  "Starting from STEP %d: scanning existing files",  // 152
  "TRIM plan generation failed: ",  // 153
  "Press Inspect to analyze the selected PhysicalDrive.",  // 154
  "Total space",  // 155
  "Free space",  // 156
  "Used space",  // 157
  "TRIM Real Test Procedure (STEP 1~5):",  // 158
  "1) Fill 1/3 of remaining space with 500MB random files.",  // 159
  "2) Delete every 10th file -> Flush -> Free space CSV -> TRIM.",  // 160
  "3) Fill remaining space with 1GB random files (leave ~1GB).",  // 161
  "4) Verify 500MB file integrity.",  // 162
  "Auto-wait on speed drop (configurable, 0=off). 1-min cooldown after wait.",  // 163
  "Press Stop to cancel at any time.",  // 164
  "Disk will be initialized as GPT after TRIM",  // 165
  "Disk will be initialized as MBR after TRIM",  // 166
  "Free-space TRIM is not available: ",  // 167
  "Waiting %d:%02d",  // 168
  "Warning",  // 169
  // 170
  "TRIM may affect data recovery and SSD lifespan/performance.\r\n"
  "Please verify the target disk and continue?",
  "If the device uses UAS, actual transfers will be blocked.",  // 171
  "Failed to open disk handle: ",  // 172
  "Disk initialization succeeded: ",  // 173
  "IOCTL_DISK_CREATE_DISK failed: winerr=",  // 174
  "USB Connection Guide",  // 175
  // 176
  "A USB 3.0 or newer port is required (usually blue, but color is not guaranteed).\r\n"
  "\r\n"
  "BOT: TRIM via ATA Pass-Through\r\n"
  "UASP: TRIM via SCSI UNMAP (fallback to ATA Pass-Through)\r\n"
  "\r\n"
  "If TRIM fails:\r\n"
  "1) Disconnect and reconnect directly to a USB 3.0+ port\r\n"
  "2) Change USB hub/cable\r\n"
  "3) After Refresh, verify Transport",
  "UI tabs initialized",  // 177
  "Additional info",  // 178
  "ATA Pass-Through",  // 179
  "ATA TRIM Capable",  // 180
  "Operation canceled by user.",  // 181
  "TRIM execution completed successfully.",  // 182
  "TRIM execution completed with failed batches.",  // 183
  "Vrek Products",  // 184
  "Vrek Manual",  // 185
  "License",  // 186
  "License Information",  // 187
  // 188
  "This program is provided free of charge, \"as is\", without warranty of any kind.\r\n"
  "You use it at your own risk; the author is not liable for any loss of data or other damage.\r\n"
  "\r\n"
  "Always keep backups of your data before running TRIM.",
  "About TRIM",  // 189
  "About TRIM",  // 190
  // 191
  "[ What is TRIM? ]\r\n"
  "TRIM tells the SSD which blocks are no longer in use, so the SSD can erase them in advance "
  "and collect garbage efficiently.\r\n"
  "\r\n"
  "[ Benefits of TRIM ]\r\n"
  "- Sustained write performance\r\n"
  "- Longer SSD life through fewer write/erase cycles\r\n"
  "- Steady response times\r\n"
  "- Efficient space management by the SSD controller\r\n"
  "\r\n"
  "[ When should you TRIM? ]\r\n"
  "- After deleting many files\r\n"
  "- When write speed has dropped\r\n"
  "- After long use of an external USB SSD without TRIM\r\n"
  "- When the system does not TRIM USB-attached SSDs by itself\r\n"
  "\r\n"
  "[ Note ]\r\n"
  "Windows trims internal SATA/NVMe SSDs automatically, but not external SSDs behind "
  "USB-SATA bridges. This tool is made for those drives.",
  "How to Use",  // 192
  "Target Drive",  // 193
  // 194
  "This test writes to all free space on the drive and may take a long time.\r\n"
  "Do you want to continue?",
  "STEP1: Running TRIM before file creation",  // 195
  // 196
  "Hardware TRIM paths (DSM / SCSI UNMAP / ATA Pass-Through) were all rejected by this USB bridge.\r\n"
  "For NTFS, Windows PowerShell \"Optimize-Volume -ReTrim\" is the safe, native path and will be used to retrim free space.\r\n"
  "Proceed? (Avoid writing to the target drive during the operation.)",
  "Windows ReTrim only (skip DSM / UNMAP / ATA Pass-Through)",  // 197
  // 198
  "Use this for incompatible USB-SATA bridges (e.g. Vansuny U52, SSK). "
  "Skips all hardware TRIM paths and runs Windows Optimize-Volume -ReTrim directly.",
  // 199
  "This USB-SATA bridge does not support TRIM on exFAT/FAT32.\r\n"
  "Please reformat the drive as NTFS to use Windows ReTrim, then try again.",
  "TRIM compatibility warning",  // 200
  // 201
  "This USB-SATA bridge reports that TRIM is NOT supported.\r\n"
  "All TRIM paths (DSM / SCSI UNMAP / WRITE SAME / ATA Pass-Through) are likely to fail.\r\n"
  "\r\n"
  "Continue anyway?",
  "Continue with Windows ReTrim",  // 202
  // 203
  "You can skip hardware TRIM and run only Windows Optimize-Volume -ReTrim.\r\n"
  "(This works on NTFS volumes only.)\r\n"
  "\r\n"
  "Continue in this mode now?",
  // 204
  "Optimize-Volume -ReTrim is available on NTFS volumes only.\r\n"
  "This disk has no NTFS volume, so Windows ReTrim cannot be offered as an immediate alternative.\r\n"
  "\r\n"
  "Reformat the drive as NTFS and try again, or enable \"Windows ReTrim only\" manually after switching to NTFS.",
  // 205
  "The disk appears to have disconnected from the USB bus.\r\n"
  "\r\n"
  "Do not close the tool or use Windows \"Safely Remove Hardware\".\r\n"
  "Physically unplug and reconnect the drive first, then wait until Windows detects it again.\r\n"
  "Once the drive is detected again, refresh the disk list and run the operation again.",
  "Expert: allow ATA Pass-Through retry after ReTrim failure (risky)",  // 206
  "In auto mode, if ReTrim fails the tool can offer a warned lock/dismount + ATA Pass-Through retry.",  // 207
  // 208
  "Optimize-Volume -ReTrim failed (for example StorageWMI 43022).\r\n"
  "Manual ATA Pass-Through may still work on this bridge, but it requires lock/dismount and may destabilize fragile bridges.\r\n"
  "\r\n"
  "Proceed with an expert ATA Pass-Through retry?",
  "Select the logical drive to use for the real test.",  // 209
  "Speed Chart",  // 210
  "View the write speed time-series chart from the last test run.",  // 211
  "Write Speed Chart",  // 212
  "Data points: %d | Max speed: %.1f MB/s | Duration: %s",  // 213
  "Save CSV",  // 214
  "Close",  // 215
  "Save Speed Data CSV",  // 216
  "Status: Scanning disks...",  // 217
  "Status: Ready",  // 218
  "Status: Completed",  // 219
  "Status: ",  // 220
  "Speed: ",  // 221
  "Elapsed: ",  // 222
  "Step: ",  // 223
  "FS policy: free-space mode enabled (NTFS/exFAT/FAT32 volumes detected)",  // 224
  "FS policy: free-space mode enabled (NTFS/exFAT/FAT32)",  // 225
  "FS policy: free-space mode disabled - ",  // 226
  "CSV creation failed (created): ",  // 227
  "CSV creation failed (deleted): ",  // 228
  "CSV: physical address lookup failed idx=%d %s (err=%d)",  // 229
  "STEP4 Verify",  // 230
  "CSV saved: ",  // 231
  "Disk initialized as %s after TRIM.",  // 232
  "Disk %s initialization failed after TRIM",  // 233
  "No files in trim_real_test folder.",  // 234
  "CSV save failed: ",  // 235
  "Disk initialization skipped: the TRIM run did not complete successfully. Resolve the issue and run again.",  // 236
  // 237
  "The disk configuration changed since the last refresh (disk replaced, or volume/file-system change detected). "
  "The list will be refreshed now. Re-select the disk and press Start again.",
  // 238
  "To protect the mounted NTFS volume (Pinned Volume guard), the hardware TRIM paths (DSM / SCSI UNMAP / ATA Pass-Through) are not used on this bridge.\r\n"
  "For NTFS, Windows PowerShell \"Optimize-Volume -ReTrim\" is the safe, native path and will be used to retrim free space.\r\n"
  "Proceed? (Avoid writing to the target drive during the operation.)",
  "Exclude repetitive messages",  // 239
  "Suppress per-batch info messages during TRIM iterations. Warnings and errors are still logged.",  // 240
  "STEP5: 1GB file integrity verification started",  // 241
  "STEP5 complete: Verification passed",  // 242
  "STEP5 complete: Verification failures found",  // 243
  "STEP5 Verify",  // 244
  "5) Verify 1GB file integrity.",  // 245
  "Verified %d files: %d passed, %d failed",  // 246
  "Note: ATA results are reported by the USB bridge (SAT) and may differ from the actual SSD. UAS devices TRIM via SCSI UNMAP/DSM.",  // 247
  "UASP method (expert)",  // 248
  // 249
  "Expert mode — Auto is recommended. Forces the TRIM method on UASP devices: SCSI UNMAP also trims FAT32/exFAT free space "
  "(Windows ReTrim is NTFS-only) but locks/dismounts volumes and may destabilize some bridges. Not saved; resets to Auto at startup.",
  // 250
  "This disk is larger than an MBR partition table can address: MBR counts at most 2^32 logical blocks (%s on this disk), and the space beyond would be unusable for any partition. Select GPT and press Start again.",
  "The volume is too small for the test: STEP%d found %s bytes free and needs %s bytes.",  // 251
  "The TRIM step failed: nothing was trimmed, so this test proves nothing about TRIM. See the log for the TRIM errors.",  // 252
  "Status: Cancelled (%d of %d batches done)",  // 253
  "Disk initialization skipped: the run was cancelled.",  // 254
};
// clang-format on
static_assert(std::size(kLangTextEn) == kLangTextCount);
