{ Quorlan.dll for object-pascal hosts: the two exports, the driver's table,
  the port dispatcher the host hands to the driver, and the codes of the
  structured exceptions the driver raises. Everything uses the register
  calling convention; see docs/abi.md.

  Delphi and Free Pascal lay out tables and pass method pointers differently,
  so the driver and the dispatcher come in two flavours:
  - Delphi: classes with virtual abstract methods (the first virtual method
    of a class sits at table offset 0); method pointers by value.
  - Free Pascal (tested): CORBA interfaces (calls start at table offset 0);
    the method-pointer parameters of the dispatcher are declared as their two
    stack dwords, Data then Code, because Free Pascal passes a method pointer
    by reference under the register convention. }
unit QuorlanDriver;

{$ifdef FPC}
  {$mode objfpc}
  {$interfaces corba}
{$endif}

interface

const
  QuorlanLibrary = 'Quorlan.dll';

  { Codes of the structured exceptions. ExceptionInformation[0] is the
    message (PAnsiChar, Windows-1251, valid until the next exception on the
    same thread), ExceptionInformation[1] the class name (PAnsiChar). }
  QuorlanSerialIOError = $E0510001;
  QuorlanRangeError = $E0510002;
  QuorlanAbstractError = $E0510003;
  QuorlanOtherError = $E0510004;

  { Bit 7 of the factory's flags: amounts computed from volume and price. }
  QuorlanAmountFromVolume = $80;

  { What the driver's reply check reports through SetError and SetState. }
  QuorlanErrorBadLength = $DB;
  QuorlanErrorBadComplement = $F6;
  QuorlanLinkGood = 1;
  QuorlanLinkBad = 3;

type
  { Result of GetNozzleStatus: the driver writes StateCode, Zero1, SubState
    and Zero15; the other bytes keep what the host's record held. }
  TQuorlanNozzleStatus = packed record
    StateCode: Byte;
    Zero1: Byte;
    Untouched: array[2..13] of Byte;
    SubState: Byte;
    Zero15: Byte;
  end;

  { The driver's callbacks, as the host calls them. HighIndex is the highest
    valid index of Reply (an open array's pointer and high bound). }
  TQuorlanReplyVerifier = function(Channel: LongInt; Reply: PByte;
    HighIndex, Received, Expected: LongInt): Boolean of object; register;
  TQuorlanSetupHandler = procedure(Channel: LongInt) of object; register;

{$ifdef FPC}
  { The driver object returned by GetDI30, used as this interface. }
  IQuorlanDriver = interface
    procedure NotImplemented;                                   { 0 }
    function GetDescription: ShortString;                       { 1 }
    procedure SetLinkState(C: LongWord; State: Byte);           { 2 }
    function GetLinkState(C: LongWord): Byte;                   { 3 }
    function Stop(C, D, X: LongWord): LongInt;                  { 4 }
    procedure Reserved5(X: LongWord);                           { 5 }
    procedure GetTransaction(C, D: LongWord; out Volume, Amount: Double); { 6 }
    procedure ReadTotals(C, D: LongWord; Nozzle: LongInt;
      out VolumeTotal, AmountTotal: Double; X, Y: LongWord);    { 7 }
    procedure Reserved8(X1, X2, X3, X4, X5, X6, X7: LongWord);  { 8 }
    function ReadTransaction(C, D: LongWord; out Amount: Double): Double; { 9 }
    function PollStatus(C, D: LongWord): Word;                  { 10 }
    procedure SetPrice(C, D, G, X, Y: LongWord; Price: Double); { 11 }
    procedure Reserved12(X1, X2, X3: LongWord);                 { 12 }
    procedure SetVolumePreset(C, D, X, Y: LongWord; Volume: Double); { 13 }
    procedure SetAmountPreset(C, D, G, X: LongWord; Amount: Double); { 14 }
    procedure Start(C, D, G: LongWord);                         { 15 }
    procedure OpenChannel(C: LongWord);                         { 16 }
    procedure Reserved17(X1, X2, X3: LongWord);                 { 17 }
    procedure Reserved18(X1, X2, X3, X4: LongWord);             { 18 }
    procedure Authorize(C, D, G: LongWord; PresetFlag: Byte);   { 19 }
    function QueryOption(Option: LongWord; out Value: LongInt): Boolean; { 20 }
    function GetNozzleStatus(C, D, Mode: Byte): TQuorlanNozzleStatus; { 21 }
    function StopNozzle(C, D, X, Y: LongWord): LongInt;         { 22 }
    procedure Reserved23(X1, X2, X3, X4: LongWord);             { 23 }
  end;

  { The host's port dispatcher: implement it in a class and pass the
    interface (as a Pointer) to GetDI30. Positions without a name are never
    called by the driver. }
  IQuorlanPortDispatcher = interface
    procedure Position0;
    function GetError(Channel: LongInt): LongWord;              { 1 }
    procedure SetError(Channel: LongInt; Code: LongWord);       { 2 }
    procedure SetState(Channel: LongInt; State: LongInt);       { 3 }
    function GetState(Channel: LongInt): Byte;                  { 4 }
    procedure Position5;
    procedure Position6;
    procedure Position7;
    procedure Position8;
    procedure Position9;
    procedure Position10;
    procedure Position11;
    procedure Position12;
    procedure Position13;
    procedure Position14;
    procedure Position15;
    function Exchange(Channel: LongInt; Request: PByte; RequestLength: LongInt;
      Reply: PByte; ExpectedLength: LongInt; Reserved: LongInt): LongWord; { 16 }
    procedure Configure(Channel: LongInt; LineSetting: LongInt; Baud: LongInt); { 17 }
    procedure Position18;
    { Unused takes ECX, which the driver leaves undefined; the method
      pointer follows as two stack dwords. Rebuild it with MakeVerifier. }
    procedure SetVerifier(Channel: LongInt; Unused: LongInt;
      VerifierData, VerifierCode: Pointer);                     { 19 }
    procedure Position20;
    procedure SetSetupHandler(Channel: LongInt; Unused: LongInt;
      HandlerData, HandlerCode: Pointer);                       { 21 }
  end;
{$else}
  TQuorlanDriver = class
  public
    procedure NotImplemented; virtual; abstract;
    function GetDescription: ShortString; virtual; abstract;
    procedure SetLinkState(C: LongWord; State: Byte); virtual; abstract;
    function GetLinkState(C: LongWord): Byte; virtual; abstract;
    function Stop(C, D, X: LongWord): LongInt; virtual; abstract;
    procedure Reserved5(X: LongWord); virtual; abstract;
    procedure GetTransaction(C, D: LongWord; out Volume, Amount: Double); virtual; abstract;
    procedure ReadTotals(C, D: LongWord; Nozzle: LongInt;
      out VolumeTotal, AmountTotal: Double; X, Y: LongWord); virtual; abstract;
    procedure Reserved8(X1, X2, X3, X4, X5, X6, X7: LongWord); virtual; abstract;
    function ReadTransaction(C, D: LongWord; out Amount: Double): Double; virtual; abstract;
    function PollStatus(C, D: LongWord): Word; virtual; abstract;
    procedure SetPrice(C, D, G, X, Y: LongWord; Price: Double); virtual; abstract;
    procedure Reserved12(X1, X2, X3: LongWord); virtual; abstract;
    procedure SetVolumePreset(C, D, X, Y: LongWord; Volume: Double); virtual; abstract;
    procedure SetAmountPreset(C, D, G, X: LongWord; Amount: Double); virtual; abstract;
    procedure Start(C, D, G: LongWord); virtual; abstract;
    procedure OpenChannel(C: LongWord); virtual; abstract;
    procedure Reserved17(X1, X2, X3: LongWord); virtual; abstract;
    procedure Reserved18(X1, X2, X3, X4: LongWord); virtual; abstract;
    procedure Authorize(C, D, G: LongWord; PresetFlag: Byte); virtual; abstract;
    function QueryOption(Option: LongWord; out Value: LongInt): Boolean; virtual; abstract;
    function GetNozzleStatus(C, D, Mode: Byte): TQuorlanNozzleStatus; virtual; abstract;
    function StopNozzle(C, D, X, Y: LongWord): LongInt; virtual; abstract;
    procedure Reserved23(X1, X2, X3, X4: LongWord); virtual; abstract;
  end;

  { Derive the host's dispatcher from this class; the driver calls the
    virtual methods by position. }
  TQuorlanPortDispatcher = class
  public
    procedure Position0; virtual; abstract;
    function GetError(Channel: LongInt): LongWord; virtual; abstract;
    procedure SetError(Channel: LongInt; Code: LongWord); virtual; abstract;
    procedure SetState(Channel: LongInt; State: LongInt); virtual; abstract;
    function GetState(Channel: LongInt): Byte; virtual; abstract;
    procedure Position5; virtual; abstract;
    procedure Position6; virtual; abstract;
    procedure Position7; virtual; abstract;
    procedure Position8; virtual; abstract;
    procedure Position9; virtual; abstract;
    procedure Position10; virtual; abstract;
    procedure Position11; virtual; abstract;
    procedure Position12; virtual; abstract;
    procedure Position13; virtual; abstract;
    procedure Position14; virtual; abstract;
    procedure Position15; virtual; abstract;
    function Exchange(Channel: LongInt; Request: PByte; RequestLength: LongInt;
      Reply: PByte; ExpectedLength: LongInt; Reserved: LongInt): LongWord; virtual; abstract;
    procedure Configure(Channel: LongInt; LineSetting: LongInt; Baud: LongInt); virtual; abstract;
    procedure Position18; virtual; abstract;
    procedure SetVerifier(Channel: LongInt; Verifier: TQuorlanReplyVerifier); virtual; abstract;
    procedure Position20; virtual; abstract;
    procedure SetSetupHandler(Channel: LongInt; Handler: TQuorlanSetupHandler); virtual; abstract;
  end;
{$endif}

{ Both return the driver object; GetDriver25 ignores its last five values. }
function GetDI30(Flags, AppWindow: LongWord; Port: Pointer): Pointer; register;
  external QuorlanLibrary name 'GetDI30';
function GetDriver25(Flags, AppWindow: LongWord; Port: Pointer;
  X1, X2, X3, X4, X5: LongWord): Pointer; register;
  external QuorlanLibrary name 'GetDriver25';

{$ifdef FPC}
function MakeVerifier(Data, Code: Pointer): TQuorlanReplyVerifier;
function MakeSetupHandler(Data, Code: Pointer): TQuorlanSetupHandler;
{$endif}

implementation

{$ifdef FPC}
function MakeVerifier(Data, Code: Pointer): TQuorlanReplyVerifier;
begin
  TMethod(Result).Data := Data;
  TMethod(Result).Code := Code;
end;

function MakeSetupHandler(Data, Code: Pointer): TQuorlanSetupHandler;
begin
  TMethod(Result).Data := Data;
  TMethod(Result).Code := Code;
end;
{$endif}

end.
