// The register values of the ATA PASS-THROUGH command blocks, defined once for every builder and
// check of the device layer and for the run that picks among them.
#pragma once

#include <cstdint>

enum : uint8_t {
  // SCSI operation codes of the two blocks (SAT).
  ATA_PASS_THROUGH_16 = 0x85,
  ATA_PASS_THROUGH_12 = 0xA1,
  // The PROTOCOL field.
  ATA_PROTOCOL_PIO_DATA_IN = 4,
  ATA_PROTOCOL_PIO_DATA_OUT = 5,
  ATA_PROTOCOL_DMA = 6,
  // ATA commands, and the TRIM bit in the FEATURES of DATA SET MANAGEMENT.
  ATA_CMD_DATA_SET_MANAGEMENT = 0x06,
  ATA_CMD_IDENTIFY_DEVICE = 0xEC,
  ATA_DSM_TRIM = 0x01,
};
