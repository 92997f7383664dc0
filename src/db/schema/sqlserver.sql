-- Hostlore tables for SQL Server (database BrindleAsset). Column order is
-- binding: the agent reads and writes every column by its position.
-- Every table ends in RowId, an IDENTITY column by which the agent finds
-- the row it writes (SQL Server offers no row address of its own).

IF OBJECT_ID(N'dbo.Asset', N'U') IS NULL
CREATE TABLE dbo.Asset (
  Computer nvarchar(255) NULL,
  Manufacturer nvarchar(255) NULL,
  Model nvarchar(255) NULL,
  Domain nvarchar(255) NULL,
  BootDevice nvarchar(255) NULL,
  Description nvarchar(255) NULL,
  OperatingSystem nvarchar(255) NULL,
  ServicePack nvarchar(255) NULL,
  OSVersion nvarchar(255) NULL,
  Processor1 nvarchar(255) NULL,
  Processor1Speed float NULL,
  Processor2 nvarchar(255) NULL,
  Processor2Speed float NULL,
  Processor3 nvarchar(255) NULL,
  Processor3Speed float NULL,
  Processor4 nvarchar(255) NULL,
  Processor4Speed float NULL,
  TotalPhysicalMemory int NULL,
  FreePhysicalMemory int NULL,
  FreeSpaceInPagingFiles int NULL,
  FreeVirtualMemory int NULL,
  CountryCode nvarchar(255) NULL,
  WindowsDirectory nvarchar(255) NULL,
  BIOS nvarchar(255) NULL,
  BIOSVersion nvarchar(255) NULL,
  SerialNumber nvarchar(255) NULL,
  LastScanned nvarchar(19) NULL,
  LoggedOnUser nvarchar(255) NULL,
  Spare28 nvarchar(255) NULL,
  Spare29 nvarchar(255) NULL,
  IPAddress nvarchar(255) NULL,
  DriveACaption nvarchar(255) NULL,
  DriveASize float NULL,
  DriveAFreeSpace float NULL,
  DriveAVolumeName nvarchar(255) NULL,
  DriveAFileSystem nvarchar(255) NULL,
  DriveAVolumeSerial nvarchar(255) NULL,
  DriveBCaption nvarchar(255) NULL,
  DriveBSize float NULL,
  DriveBFreeSpace float NULL,
  DriveBVolumeName nvarchar(255) NULL,
  DriveBFileSystem nvarchar(255) NULL,
  DriveBVolumeSerial nvarchar(255) NULL,
  DriveCCaption nvarchar(255) NULL,
  DriveCSize float NULL,
  DriveCFreeSpace float NULL,
  DriveCVolumeName nvarchar(255) NULL,
  DriveCFileSystem nvarchar(255) NULL,
  DriveCVolumeSerial nvarchar(255) NULL,
  DriveDCaption nvarchar(255) NULL,
  DriveDSize float NULL,
  DriveDFreeSpace float NULL,
  DriveDVolumeName nvarchar(255) NULL,
  DriveDFileSystem nvarchar(255) NULL,
  DriveDVolumeSerial nvarchar(255) NULL,
  DriveECaption nvarchar(255) NULL,
  DriveESize float NULL,
  DriveEFreeSpace float NULL,
  DriveEVolumeName nvarchar(255) NULL,
  DriveEFileSystem nvarchar(255) NULL,
  DriveEVolumeSerial nvarchar(255) NULL,
  DriveFCaption nvarchar(255) NULL,
  DriveFSize float NULL,
  DriveFFreeSpace float NULL,
  DriveFVolumeName nvarchar(255) NULL,
  DriveFFileSystem nvarchar(255) NULL,
  DriveFVolumeSerial nvarchar(255) NULL,
  DriveGCaption nvarchar(255) NULL,
  DriveGSize float NULL,
  DriveGFreeSpace float NULL,
  DriveGVolumeName nvarchar(255) NULL,
  DriveGFileSystem nvarchar(255) NULL,
  DriveGVolumeSerial nvarchar(255) NULL,
  DriveHCaption nvarchar(255) NULL,
  DriveHSize float NULL,
  DriveHFreeSpace float NULL,
  DriveHVolumeName nvarchar(255) NULL,
  DriveHFileSystem nvarchar(255) NULL,
  DriveHVolumeSerial nvarchar(255) NULL,
  DriveICaption nvarchar(255) NULL,
  DriveISize float NULL,
  DriveIFreeSpace float NULL,
  DriveIVolumeName nvarchar(255) NULL,
  DriveIFileSystem nvarchar(255) NULL,
  DriveIVolumeSerial nvarchar(255) NULL,
  DriveJCaption nvarchar(255) NULL,
  DriveJSize float NULL,
  DriveJFreeSpace float NULL,
  DriveJVolumeName nvarchar(255) NULL,
  DriveJFileSystem nvarchar(255) NULL,
  DriveJVolumeSerial nvarchar(255) NULL,
  Spare91 nvarchar(255) NULL,
  History nvarchar(max) NULL,
  OSSerialNumber nvarchar(255) NULL,
  RowId bigint IDENTITY(1,1) NOT NULL
);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Asset_Computer')
CREATE INDEX Asset_Computer ON dbo.Asset (Computer);
-- The fleet view reads every computer's LastScanned from this, not from the rows.
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Asset_Stamp')
CREATE INDEX Asset_Stamp ON dbo.Asset (Computer) INCLUDE (LastScanned, IPAddress);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Asset_RowId')
CREATE UNIQUE INDEX Asset_RowId ON dbo.Asset (RowId);

IF OBJECT_ID(N'dbo.Software', N'U') IS NULL
CREATE TABLE dbo.Software (
  SoftComputer nvarchar(255) NULL,
  SoftwareText nvarchar(max) NULL,
  RowId bigint IDENTITY(1,1) NOT NULL
);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Software_SoftComputer')
CREATE INDEX Software_SoftComputer ON dbo.Software (SoftComputer);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Software_RowId')
CREATE UNIQUE INDEX Software_RowId ON dbo.Software (RowId);

IF OBJECT_ID(N'dbo.Services', N'U') IS NULL
CREATE TABLE dbo.Services (
  ServComputer nvarchar(255) NULL,
  ServicesText nvarchar(max) NULL,
  RowId bigint IDENTITY(1,1) NOT NULL
);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Services_ServComputer')
CREATE INDEX Services_ServComputer ON dbo.Services (ServComputer);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'Services_RowId')
CREATE UNIQUE INDEX Services_RowId ON dbo.Services (RowId);

IF OBJECT_ID(N'dbo.LastAccess', N'U') IS NULL
CREATE TABLE dbo.LastAccess (
  Computer nvarchar(255) NULL,
  AccessTime nvarchar(19) NULL,
  RowId bigint IDENTITY(1,1) NOT NULL
);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'LastAccess_Computer')
CREATE INDEX LastAccess_Computer ON dbo.LastAccess (Computer);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'LastAccess_RowId')
CREATE UNIQUE INDEX LastAccess_RowId ON dbo.LastAccess (RowId);

IF OBJECT_ID(N'dbo.DriveHistory', N'U') IS NULL
CREATE TABLE dbo.DriveHistory (
  DiskComputer nvarchar(255) NULL,
  DriveHistoryText nvarchar(4000) NULL,
  DiskOwner nvarchar(255) NULL,
  RowId bigint IDENTITY(1,1) NOT NULL
);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'DriveHistory_DiskComputer')
CREATE INDEX DriveHistory_DiskComputer ON dbo.DriveHistory (DiskComputer);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'DriveHistory_RowId')
CREATE UNIQUE INDEX DriveHistory_RowId ON dbo.DriveHistory (RowId);
