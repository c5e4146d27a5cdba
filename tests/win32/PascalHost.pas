{ An object-pascal host of Quorlan.dll, compiled by Free Pascal: the driver
  as a CORBA interface, a port dispatcher with one simulated dispenser, and a
  fill scenario with the structured exceptions checked through EExternal.
  Exit code 0 when every check holds. }
program PascalHost;

{$mode objfpc}
{$interfaces corba}

uses
  SysUtils, Math, QuorlanDriver;

const
  HostControlWord = $1332;  { invalid, zero divide and overflow unmasked }
  StatusRequestMessage: AnsiString =
    #$CD#$E5#$E2#$EE#$E7#$EC#$EE#$E6#$ED#$EE#$20#$E2#$FB#$EF#$EE#$EB#$ED#$E8#$F2#$FC +
    #$20#$E7#$E0#$EF#$F0#$EE#$F1#$20#$F1#$EE#$F1#$F2#$EE#$FF#$ED#$E8#$FF#$20#$D2#$D0#$CA;
  Description: ShortString =
    'v2.50#'#$CF#$F0#$EE#$F2#$EE#$EA#$EE#$EB#$20#$EA#$20'Quorlan';

type
  { One dispenser per channel: answers a status request with StatusByte and
    fixed figures, everything else with a good reply of zeros; FailNext makes
    the next exchange fail without a reply. }
  TTestDispatcher = class(IQuorlanPortDispatcher)
  public
    Errors: array[0..255] of LongWord;
    States: array[0..255] of LongInt;
    Verifiers: array[0..255] of TQuorlanReplyVerifier;
    Setups: array[0..255] of TQuorlanSetupHandler;
    Configures, Exchanges: Integer;
    StatusByte: Byte;
    FailNext: Boolean;
    procedure Position0;
    function GetError(Channel: LongInt): LongWord;
    procedure SetError(Channel: LongInt; Code: LongWord);
    procedure SetState(Channel: LongInt; State: LongInt);
    function GetState(Channel: LongInt): Byte;
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
      Reply: PByte; ExpectedLength: LongInt; Reserved: LongInt): LongWord;
    procedure Configure(Channel: LongInt; LineSetting: LongInt; Baud: LongInt);
    procedure Position18;
    procedure SetVerifier(Channel: LongInt; Unused: LongInt; VerifierData, VerifierCode: Pointer);
    procedure Position20;
    procedure SetSetupHandler(Channel: LongInt; Unused: LongInt; HandlerData, HandlerCode: Pointer);
  end;

var
  Failures: Integer = 0;

procedure Check(Condition: Boolean; const What: string);
begin
  if not Condition then
  begin
    WriteLn('FAILED: ', What);
    Inc(Failures);
  end;
end;

procedure Unexpected;
begin
  WriteLn('FAILED: the driver called an unused dispatcher position');
  Halt(2);
end;

procedure TTestDispatcher.Position0; begin Unexpected; end;
procedure TTestDispatcher.Position5; begin Unexpected; end;
procedure TTestDispatcher.Position6; begin Unexpected; end;
procedure TTestDispatcher.Position7; begin Unexpected; end;
procedure TTestDispatcher.Position8; begin Unexpected; end;
procedure TTestDispatcher.Position9; begin Unexpected; end;
procedure TTestDispatcher.Position10; begin Unexpected; end;
procedure TTestDispatcher.Position11; begin Unexpected; end;
procedure TTestDispatcher.Position12; begin Unexpected; end;
procedure TTestDispatcher.Position13; begin Unexpected; end;
procedure TTestDispatcher.Position14; begin Unexpected; end;
procedure TTestDispatcher.Position15; begin Unexpected; end;
procedure TTestDispatcher.Position18; begin Unexpected; end;
procedure TTestDispatcher.Position20; begin Unexpected; end;

function TTestDispatcher.GetError(Channel: LongInt): LongWord;
begin
  Result := Errors[Channel];
end;

procedure TTestDispatcher.SetError(Channel: LongInt; Code: LongWord);
begin
  Errors[Channel] := Code;
end;

procedure TTestDispatcher.SetState(Channel: LongInt; State: LongInt);
begin
  States[Channel] := State;
end;

function TTestDispatcher.GetState(Channel: LongInt): Byte;
begin
  Result := States[Channel];
end;

function TTestDispatcher.Exchange(Channel: LongInt; Request: PByte; RequestLength: LongInt;
  Reply: PByte; ExpectedLength: LongInt; Reserved: LongInt): LongWord;
const
  { Amount 234.75 and volume 12.50, least significant byte first. }
  StatusInfo: array[0..8] of Byte = (0, 0, $75, $34, $02, $50, $12, $00, 0);
var
  Info: array[0..127] of Byte;
  I: Integer;
begin
  Inc(Exchanges);
  Check((RequestLength >= 4) and (RequestLength mod 2 = 0), 'request of whole pairs');
  Check(Request[1] = Request[0] xor $FF, 'request address complemented');
  Check(Reserved = 0, 'sixth Exchange argument is 0');
  if FailNext then
  begin
    FailNext := False;
    States[Channel] := QuorlanLinkBad;
    Errors[Channel] := QuorlanErrorBadLength;
    Exit(Errors[Channel]);
  end;
  FillChar(Info, SizeOf(Info), 0);
  if ExpectedLength = 18 then
  begin
    Move(StatusInfo, Info, SizeOf(StatusInfo));
    Info[8] := StatusByte;
  end;
  for I := 0 to ExpectedLength div 2 - 1 do
  begin
    Reply[2 * I] := Info[I];
    Reply[2 * I + 1] := Info[I] xor $FF;
  end;
  { The verifier reports its verdict through SetState and SetError. }
  Check(Assigned(Verifiers[Channel]), 'verifier registered before the exchange');
  Check(Verifiers[Channel](Channel, Reply, 254, ExpectedLength, ExpectedLength),
    'good reply accepted');
  Check(Get8087CW and $1F3F = HostControlWord and $1F3F, 'control word kept by the verifier');
  Result := Errors[Channel];
end;

procedure TTestDispatcher.Configure(Channel: LongInt; LineSetting: LongInt; Baud: LongInt);
begin
  Inc(Configures);
  Check((LineSetting = 3) and (Baud = 9600), 'line set up as 3 at 9600');
end;

procedure TTestDispatcher.SetVerifier(Channel: LongInt; Unused: LongInt;
  VerifierData, VerifierCode: Pointer);
begin
  Verifiers[Channel] := MakeVerifier(VerifierData, VerifierCode);
end;

procedure TTestDispatcher.SetSetupHandler(Channel: LongInt; Unused: LongInt;
  HandlerData, HandlerCode: Pointer);
begin
  Setups[Channel] := MakeSetupHandler(HandlerData, HandlerCode);
end;

{ Runs Call and checks that it raised the driver's exception Code with
  Message (when given), and that the host's control word survived. }
type
  TDriverCall = procedure;

var
  Port: TTestDispatcher;
  Driver: IQuorlanDriver;

procedure ExpectRaised(Call: TDriverCall; Code: LongWord; const Message, What: AnsiString);
var
  Raised: Boolean;
begin
  Raised := False;
  try
    Call;
  except
    on E: EExternal do
    begin
      Raised := True;
      Check(E.ExceptionRecord^.ExceptionCode = Code,
        What + ': code ' + IntToHex(E.ExceptionRecord^.ExceptionCode, 8));
      Check(E.ExceptionRecord^.NumberParameters = 2, What + ': two parameters');
      if Message <> '' then
        Check(PAnsiChar(E.ExceptionRecord^.ExceptionInformation[0]) = Message,
          What + ': message ' + PAnsiChar(E.ExceptionRecord^.ExceptionInformation[0]));
    end;
  end;
  Check(Raised, What + ': raised');
  Check(Get8087CW and $1F3F = HostControlWord and $1F3F, What + ': control word kept');
end;

procedure CallNotImplemented; begin Driver.NotImplemented; end;
procedure PollDispenser33; begin Driver.PollStatus(1, 33); end;
procedure PriceGrade9; begin Driver.SetPrice(1, 1, 9, 0, 0, 10.0); end;
{ A huge preset is stored; the authorization that sends it refuses it. }
procedure HugePreset;
begin
  Driver.SetVolumePreset(1, 1, 0, 0, 1e300);
  Driver.Authorize(1, 1, 1, 1);
end;
procedure FailingPoll; begin Port.FailNext := True; Driver.PollStatus(1, 1); end;

var
  Volume, Amount, Volume2, Amount2: Double;
  Option: LongInt;
  Status: TQuorlanNozzleStatus;
begin
  Set8087CW(HostControlWord);
  Port := TTestDispatcher.Create;
  Driver := IQuorlanDriver(GetDI30(0, 0, Pointer(Port as IQuorlanPortDispatcher)));
  Check(Driver <> nil, 'driver created');

  Check(Driver.GetDescription = Description, 'description');
  Check(Driver.GetLinkState(1) = 1, 'link state 1 after creation');
  Driver.SetLinkState(2, 3);
  Check(Driver.GetLinkState(2) = 3, 'link state stored');
  Check(Driver.QueryOption(3, Option) and (Option = 1), 'option 3');
  Check(not Driver.QueryOption(6, Option), 'option 6 unknown');

  Driver.OpenChannel(1);
  Check(Port.Configures = 1, 'channel opened with a line setup');
  Check(Assigned(Port.Setups[1]), 'setup handler registered');
  Port.Setups[1](1);
  Check(Port.Configures = 2, 'setup handler sets the line up again');

  { A fill: price, preset, authorization, polls while filling, readout. }
  Driver.SetPrice(1, 1, 1, 0, 0, 45.67);
  Driver.SetVolumePreset(1, 1, 0, 0, 20.0);
  Driver.Authorize(1, 1, 1, 1);
  Port.StatusByte := $99;
  Status := Driver.GetNozzleStatus(1, 1, 0);
  Check(Status.StateCode and $F8 = $D0, 'filling reported as D0 + nozzle');
  Check((Status.Zero1 = 0) and (Status.Zero15 = 0), 'record zero bytes');
  Check(Status.SubState = Status.StateCode and 7, 'record sub-state');
  Check(Driver.PollStatus(1, 1) and $F8 = $D0, 'poll while filling');
  Volume := Driver.ReadTransaction(1, 1, Amount);
  Check(SameValue(Volume, 12.5) and SameValue(Amount, 234.75),
    'read transaction ' + FloatToStr(Volume) + ' ' + FloatToStr(Amount));
  Driver.GetTransaction(1, 1, Volume2, Amount2);
  Check(SameValue(Volume2, 12.5) and SameValue(Amount2, 234.75), 'get transaction');
  Check(Driver.Stop(1, 1, 0) = 0, 'stop');
  Check(Driver.StopNozzle(1, 1, 7, 8) = 0, 'stop nozzle');
  Driver.ReadTotals(1, 1, 1, Volume, Amount, 0, 0);
  Driver.Reserved8(1, 2, 3, 4, 5, 6, 7);
  Driver.Reserved23(1, 2, 3, 4);
  Driver.Start(1, 1, 1);

  ExpectRaised(@CallNotImplemented, QuorlanAbstractError, 'Abstract error', 'entry 0');
  ExpectRaised(@PollDispenser33, QuorlanRangeError, '', 'dispenser 33');
  ExpectRaised(@PriceGrade9, QuorlanRangeError, '', 'grade 9');
  ExpectRaised(@HugePreset, QuorlanRangeError, '', 'huge preset');
  ExpectRaised(@FailingPoll, QuorlanSerialIOError, StatusRequestMessage, 'failed exchange');
  Check(Driver.PollStatus(1, 1) and $F8 = $D0, 'the driver works after the exceptions');
  Check(Get8087CW and $1F3F = HostControlWord and $1F3F, 'control word at the end');

  if Failures = 0 then
    WriteLn('Pascal host: all checks passed, ', Port.Exchanges, ' exchanges')
  else
    WriteLn('Pascal host: ', Failures, ' checks failed');
  ExitCode := Ord(Failures <> 0);
end.
