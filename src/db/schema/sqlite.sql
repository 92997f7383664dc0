-- Hostlore tables for SQLite. Column order is binding: the agent reads and
-- writes every column by its position.

CREATE TABLE IF NOT EXISTS Asset (
  Computer varchar(255) NULL,
  Manufacturer varchar(255) NULL,
  Model varchar(255) NULL,
  Domain varchar(255) NULL,
  BootDevice varchar(255) NULL,
  Description varchar(255) NULL,
  OperatingSystem varchar(255) NULL,
  ServicePack varchar(255) NULL,
  OSVersion varchar(255) NULL,
  Processor1 varchar(255) NULL,
  Processor1Speed float NULL,
  Processor2 varchar(255) NULL,
  Processor2Speed float NULL,
  Processor3 varchar(255) NULL,
  Processor3Speed float NULL,
  Processor4 varchar(255) NULL,
  Processor4Speed float NULL,
  TotalPhysicalMemory int NULL,
  FreePhysicalMemory int NULL,
  FreeSpaceInPagingFiles int NULL,
  FreeVirtualMemory int NULL,
  CountryCode varchar(255) NULL,
  WindowsDirectory varchar(255) NULL,
  BIOS varchar(255) NULL,
  BIOSVersion varchar(255) NULL,
  SerialNumber varchar(255) NULL,
  LastScanned varchar(19) NULL,
  LoggedOnUser varchar(255) NULL,
  Spare28 varchar(255) NULL,
  Spare29 varchar(255) NULL,
  IPAddress varchar(255) NULL,
  DriveACaption varchar(255) NULL,
  DriveASize float NULL,
  DriveAFreeSpace float NULL,
  DriveAVolumeName varchar(255) NULL,
  DriveAFileSystem varchar(255) NULL,
  DriveAVolumeSerial varchar(255) NULL,
  DriveBCaption varchar(255) NULL,
  DriveBSize float NULL,
  DriveBFreeSpace float NULL,
  DriveBVolumeName varchar(255) NULL,
  DriveBFileSystem varchar(255) NULL,
  DriveBVolumeSerial varchar(255) NULL,
  DriveCCaption varchar(255) NULL,
  DriveCSize float NULL,
  DriveCFreeSpace float NULL,
  DriveCVolumeName varchar(255) NULL,
  DriveCFileSystem varchar(255) NULL,
  DriveCVolumeSerial varchar(255) NULL,
  DriveDCaption varchar(255) NULL,
  DriveDSize float NULL,
  DriveDFreeSpace float NULL,
  DriveDVolumeName varchar(255) NULL,
  DriveDFileSystem varchar(255) NULL,
  DriveDVolumeSerial varchar(255) NULL,
  DriveECaption varchar(255) NULL,
  DriveESize float NULL,
  DriveEFreeSpace float NULL,
  DriveEVolumeName varchar(255) NULL,
  DriveEFileSystem varchar(255) NULL,
  DriveEVolumeSerial varchar(255) NULL,
  DriveFCaption varchar(255) NULL,
  DriveFSize float NULL,
  DriveFFreeSpace float NULL,
  DriveFVolumeName varchar(255) NULL,
  DriveFFileSystem varchar(255) NULL,
  DriveFVolumeSerial varchar(255) NULL,
  DriveGCaption varchar(255) NULL,
  DriveGSize float NULL,
  DriveGFreeSpace float NULL,
  DriveGVolumeName varchar(255) NULL,
  DriveGFileSystem varchar(255) NULL,
  DriveGVolumeSerial varchar(255) NULL,
  DriveHCaption varchar(255) NULL,
  DriveHSize float NULL,
  DriveHFreeSpace float NULL,
  DriveHVolumeName varchar(255) NULL,
  DriveHFileSystem varchar(255) NULL,
  DriveHVolumeSerial varchar(255) NULL,
  DriveICaption varchar(255) NULL,
  DriveISize float NULL,
  DriveIFreeSpace float NULL,
  DriveIVolumeName varchar(255) NULL,
  DriveIFileSystem varchar(255) NULL,
  DriveIVolumeSerial varchar(255) NULL,
  DriveJCaption varchar(255) NULL,
  DriveJSize float NULL,
  DriveJFreeSpace float NULL,
  DriveJVolumeName varchar(255) NULL,
  DriveJFileSystem varchar(255) NULL,
  DriveJVolumeSerial varchar(255) NULL,
  Spare91 varchar(255) NULL,
  History text NULL,
  OSSerialNumber varchar(255) NULL
);
CREATE INDEX IF NOT EXISTS Asset_Computer ON Asset (Computer);
-- The fleet view reads every computer's LastScanned from this, not from the rows.
CREATE INDEX IF NOT EXISTS Asset_Stamp ON Asset (Computer, LastScanned, IPAddress);

CREATE TABLE IF NOT EXISTS Software (
  SoftComputer varchar(255) NULL,
  SoftwareText text NULL
);
CREATE INDEX IF NOT EXISTS Software_SoftComputer ON Software (SoftComputer);

CREATE TABLE IF NOT EXISTS Services (
  ServComputer varchar(255) NULL,
  ServicesText text NULL
);
CREATE INDEX IF NOT EXISTS Services_ServComputer ON Services (ServComputer);

CREATE TABLE IF NOT EXISTS LastAccess (
  Computer varchar(255) NULL,
  AccessTime varchar(19) NULL
);
CREATE INDEX IF NOT EXISTS LastAccess_Computer ON LastAccess (Computer);

CREATE TABLE IF NOT EXISTS DriveHistory (
  DiskComputer varchar(255) NULL,
  DriveHistoryText varchar(4000) NULL,
  DiskOwner varchar(255) NULL
);
CREATE INDEX IF NOT EXISTS DriveHistory_DiskComputer ON DriveHistory (DiskComputer);
